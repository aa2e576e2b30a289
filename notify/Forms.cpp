#include "notify/Forms.h"

#include "notify/SetRgn.h"
#include "notify/fMail_Body.h"
#include "notify/fMail_Bot.h"
#include "notify/fMail_Card.h"
#include "notify/fMail_Checker.h"
#include "notify/fMail_Top.h"

#include <algorithm>

namespace notify {
namespace {

NotifyForm* create(Forms& forms, FormId form)
{
    switch (form) {
    case FormId::fMail_Checker:
        return new fMail_Checker(forms);
    case FormId::fMail_Top:
        return new fMail_Top(forms);
    case FormId::fMail_Bot:
        return new fMail_Bot(forms);
    case FormId::fMail_1:
    case FormId::fMail_2:
    case FormId::fMail_3:
    case FormId::fMail_4:
    case FormId::fMail_5:
        return new fMail_Card(forms, static_cast<int>(form) - static_cast<int>(FormId::fMail_1) + 1);
    case FormId::fMail_Body:
        return new fMail_Body(forms);
    }
    return nullptr;
}

} // namespace

Forms::Forms() = default;

Forms::~Forms()
{
    for (NotifyForm*& form : loaded_) {
        delete form;
        form = nullptr;
    }
    for (const QPointer<NotifyForm>& form : unloaded_) delete form.data();
}

NotifyForm& Forms::Load(FormId form)
{
    NotifyForm*& slot = loaded_[index(form)];
    if (!slot) {
        // Registered before Form_Load, so that the window counts as loaded while it loads.
        slot = create(*this, form);
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
