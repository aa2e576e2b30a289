#include "maillib/PasswordMask.h"

#include "maillib/Charset.h"

#include <algorithm>
#include <vector>

namespace maillib {
namespace {

std::string Base64(const std::string& bytes)
{
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned value = 0;
    int bits = 0;
    for (unsigned char c : bytes) {
        value = (value << 8) | c;
        bits += 8;
        while (bits >= 6) {
            bits -= 6;
            out.push_back(kAlphabet[(value >> bits) & 0x3F]);
        }
    }
    if (bits > 0) out.push_back(kAlphabet[(value << (6 - bits)) & 0x3F]);
    // No padding: an echo may drop it, and the text before it is what gives the password away.
    return out;
}

char Folded(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Replaces every occurrence of `form`, letter case aside.
void MaskForm(std::string& text, const std::string& form)
{
    if (form.empty()) return;
    const auto same = [](char a, char b) { return Folded(a) == Folded(b); };
    for (auto at = text.begin();;) {
        at = std::search(at, text.end(), form.begin(), form.end(), same);
        if (at == text.end()) return;
        const auto offset = at - text.begin();
        text.replace(static_cast<size_t>(offset), form.size(), "****");
        at = text.begin() + offset + 4;
    }
}

} // namespace

std::string MaskPassword(std::string text, const std::string& user, const std::string& password)
{
    if (password.empty()) return text;
    const std::string nul(1, '\0');
    // The AUTH PLAIN blob without and with the authorisation id.
    std::vector<std::string> forms = {password, Base64(password), Base64(nul + user + nul + password),
                                      Base64(user + nul + user + nul + password)};
    // The longest first: a shorter form may lie inside a longer one.
    std::sort(forms.begin(), forms.end(), [](const auto& a, const auto& b) { return a.size() > b.size(); });
    for (const std::string& form : forms) MaskForm(text, form);
    return text;
}

std::string SafeToShow(const std::string& text, const std::string& user, const std::string& password, size_t maxBytes)
{
    // Controls go first: they could split a password that a server echoed back.
    std::string shown =
        MaskPassword(charset::StripDisplayControls(MaskPassword(text, user, password), ""), user, password);
    shown = charset::Trim(shown);
    if (shown.size() > maxBytes) shown = charset::MakeValidUtf8(shown.substr(0, maxBytes)) + "...";
    return shown;
}

} // namespace maillib
