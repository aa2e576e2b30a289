#pragma once

// The windows the controller shows and closes. Each is one program-wide instance, loaded on
// first use and unloaded to close; unloading a window that is not loaded does nothing.
enum class FormId { fMail_Checker, fMail_Top, fMail_Bot, fMail_1, fMail_2, fMail_3, fMail_4, fMail_5, fMail_Body };

constexpr FormId CardForm(int k) { return static_cast<FormId>(static_cast<int>(FormId::fMail_1) + k - 1); }

class FormHost {
public:
    virtual ~FormHost() = default;
    // Loads the window if needed and makes it visible.
    virtual void Show(FormId form) = 0;
    virtual void Unload(FormId form) = 0;
    virtual bool IsLoaded(FormId form) const = 0;
    virtual bool IsVisible(FormId form) const = 0;
    // Opens the settings dialog and returns when it is closed.
    virtual void ShowSettingsModal() = 0;
};
