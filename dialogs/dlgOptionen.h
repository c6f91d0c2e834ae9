#pragma once

#include <QDialog>
#include <QStringList>

class MainWindowApi;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QPushButton;

// The Options dialog: four yes/no options and the language. Created for one
// opening (exec()) and destroyed afterwards; it reads everything it shows at
// construction and reaches the main window only through MainWindowApi.
class dlgOptionen : public QDialog
{
    Q_OBJECT

public:
    explicit dlgOptionen(MainWindowApi &mainWindow, QWidget *parent = nullptr);

    // Sets all texts of the dialog from the language file.
    void LoadLanguage();

    // The names listed from the language folder, in listing order (the combo
    // box shows them reversed).
    const QStringList &languageNames() const { return LanguageNames; }

private:
    void Form_Load();
    void FillLanguageList();
    void ApplyBackColor();
    // The texts drawn straight on the dialog's own background.
    QList<QWidget *> captions() const;
    void Check2_Click();
    void cmdSave_Click();
    void cmdCancel_Click();

    MainWindowApi &m_mainWindow;
    QStringList LanguageNames;

    QFrame *Frame1;
    QLabel *Label1;
    QComboBox *Combo1;
    QCheckBox *Check1;
    QCheckBox *Check2;
    QCheckBox *Check3;
    QCheckBox *Check4;
    QPushButton *cmdCancel;
    QPushButton *cmdSave;
};
