#pragma once

#include "settings/ExtraOptions.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QVBoxLayout;

// The settings beyond the Options dialog: the quiet time, the name patterns,
// what happens to a file whose name is taken, the trash for replaced files
// and the activity log file. Saves to the settings file like Options; a
// running pass takes the values from its next file on. Created for one
// opening and destroyed afterwards.
class dlgExtraOptions : public QDialog
{
    Q_OBJECT

public:
    explicit dlgExtraOptions(QWidget *parent = nullptr);

    void LoadLanguage();

    // The one-click set for the Exclude box: files still being downloaded,
    // and the lock files that office programs keep beside an open document.
    static const QString DownloadPatterns;

    QSpinBox *spnQuiet;
    QLineEdit *txtInclude;
    QLineEdit *txtExclude;
    QPushButton *cmdDownloads;
    QComboBox *cboNameTaken;
    QCheckBox *chkTrash;
    QCheckBox *chkLogFile;
    QCheckBox *chkArrival; // RunOnArrival
    QCheckBox *chkLogin;   // the job's autostart entry
    QCheckBox *chkNotify;  // NotifyEveryPass
    QLabel *lblProblem;    // names a malformed pattern; empty otherwise
    QPushButton *cmdCancel;
    QPushButton *cmdSave;

signals:
    // After the values are written; the window follows LogFile at once.
    void saved(const ExtraOptions &before, const ExtraOptions &after);

protected:
    // The rows of check boxes: a new option is one more box added here.
    QVBoxLayout *checkRows() const { return m_checkRows; }

private:
    void cmdDownloads_Click();
    void cmdSave_Click();
    // Writes a yes/no key only when the box changed it, so an untouched key
    // stays absent from the settings file.
    static void writeSwitch(const char *key, bool was, bool now);

    ExtraOptions m_read;
    bool m_arrivalRead = false;
    bool m_loginRead = false;
    bool m_notifyRead = false;
    QVBoxLayout *m_checkRows;
    QLabel *m_lblQuiet;
    QLabel *m_lblInclude;
    QLabel *m_lblExclude;
    QLabel *m_lblNameTaken;
    QLabel *m_lblHint;
};
