#pragma once
#include "controller/FormHost.h"

#include <QObject>
#include <QPointer>
#include <array>
#include <functional>
#include <vector>

namespace notify {

class NotifyForm;

// The notification windows as single program-wide instances: a window is created and its
// Form_Load run on first use, and unloading runs its Form_Unload and destroys it. The
// application creates one registry and hands it to the controller as its FormHost; each window
// gets the registry that made it, and reaches the others through it.
class Forms final : public QObject, public FormHost {
    Q_OBJECT
public:
    Forms();
    // Destroys the windows still loaded without running their unload handlers.
    ~Forms() override;
    Forms(const Forms&) = delete;
    Forms& operator=(const Forms&) = delete;

    void Show(FormId form) override;
    void Unload(FormId form) override;
    bool IsLoaded(FormId form) const override;
    bool IsVisible(FormId form) const override;
    void ShowSettingsModal() override;

    // The window, loaded (but not shown) if it was not: what asking for its handle does.
    NotifyForm& Load(FormId form);
    // The window if it is loaded, else nullptr.
    NotifyForm* Loaded(FormId form) const;
    template <class T> T* Loaded(FormId form) const { return static_cast<T*>(Loaded(form)); }
    template <class T> T& Load(FormId form) { return static_cast<T&>(Load(form)); }

    // The settings dialog lives elsewhere; the application supplies how to open it modally.
    void SetSettingsDialog(std::function<void()> showModal) { showSettings_ = std::move(showModal); }

private:
    static std::size_t index(FormId form) { return static_cast<std::size_t>(form); }

    std::array<NotifyForm*, 9> loaded_{};
    // Unloaded windows are destroyed from the event loop, since an unload may come from inside
    // one of the window's own click handlers. Whatever is left goes with the registry.
    std::vector<QPointer<NotifyForm>> unloaded_;
    std::function<void()> showSettings_;
};

} // namespace notify
