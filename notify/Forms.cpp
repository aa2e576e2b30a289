#include "notify/Forms.h"

#include "notify/SetRgn.h"
#include "notify/fMail_Body.h"
#include "notify/fMail_Bot.h"
#include "notify/fMail_Card.h"
#include "notify/fMail_Checker.h"
#include "notify/fMail_Top.h"

#include <algorithm>
#include <cassert>

namespace notify {
namespace {

Forms* registry = nullptr;

NotifyForm* create(FormId form)
{
    switch (form) {
    case FormId::fMail_Checker:
        return new fMail_Checker;
    case FormId::fMail_Top:
        return new fMail_Top;
    case FormId::fMail_Bot:
        return new fMail_Bot;
    case FormId::fMail_1:
        return new fMail_Card(1);
    case FormId::fMail_2:
        return new fMail_Card(2);
    case FormId::fMail_3:
        return new fMail_Card(3);
    case FormId::fMail_4:
        return new fMail_Card(4);
    case FormId::fMail_5:
        return new fMail_Card(5);
    case FormId::fMail_Body:
        return new fMail_Body;
    }
    return nullptr;
}

} // namespace

Forms::Forms()
{
    assert(!registry && "one window registry per program");
    registry = this;
}

Forms::~Forms()
{
    for (NotifyForm*& form : loaded_) {
        delete form;
        form = nullptr;
    }
    for (const QPointer<NotifyForm>& form : unloaded_) delete form.data();
    if (registry == this) registry = nullptr;
}

Forms& Forms::current()
{
    assert(registry && "the window registry is created at start-up");
    return *registry;
}

NotifyForm& Forms::Load(FormId form)
{
    NotifyForm*& slot = loaded_[index(form)];
    if (!slot) {
        // Registered before Form_Load, so that the window counts as loaded while it loads.
        slot = create(form);
        slot->Form_Load();
    }
    return *slot;
}

NotifyForm* Forms::Loaded(FormId form) const { return loaded_[index(form)]; }

void Forms::Show(FormId form)
{
    NotifyForm& window = Load(form);
    if (window.isVisible()) return;
    window.show();
    SetRgn::MakeTopmost(window);
}

void Forms::Unload(FormId form)
{
    NotifyForm*& slot = loaded_[index(form)];
    if (!slot) return;
    NotifyForm* window = std::exchange(slot, nullptr);
    window->Form_Unload();
    window->hide();
    std::erase_if(unloaded_, [](const QPointer<NotifyForm>& p) { return p.isNull(); });
    unloaded_.emplace_back(window);
    window->deleteLater();
}

bool Forms::IsLoaded(FormId form) const { return Loaded(form) != nullptr; }

bool Forms::IsVisible(FormId form) const
{
    const NotifyForm* window = Loaded(form);
    return window && window->isVisible();
}

void Forms::ShowSettingsModal()
{
    if (showSettings_) showSettings_();
}

} // namespace notify
