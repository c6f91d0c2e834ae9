#pragma once

// What the Options dialog may call on the main window.
class MainWindowApi
{
public:
    virtual ~MainWindowApi() = default;
    // Reloads the message table from modGlobal::LangFile and sets the captions.
    virtual void LoadLanguage() = 0;
    // Re-applies the state texts and the interval list; logs the language
    // change when languageChanged.
    virtual void SetMessages(bool languageChanged) = 0;
};
