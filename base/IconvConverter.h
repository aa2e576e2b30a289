// iconv with the descriptor owned: converts whole buffers, handing invalid input back to
// the caller's choice. Plain C++ so that both the mail library and the Qt side use it.
#pragma once

#include <iconv.h>

#include <cerrno>
#include <string>
#include <string_view>
#include <vector>

namespace fw {

class IconvConverter {
public:
    enum class OnInvalid {
        Stop,    // end the conversion and report failure
        Replace, // write U+FFFD in UTF-8, skip one byte and go on (for UTF-8 output only)
    };

    IconvConverter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~IconvConverter()
    {
        if (valid()) iconv_close(cd_);
    }
    IconvConverter(const IconvConverter&) = delete;
    IconvConverter& operator=(const IconvConverter&) = delete;

    // False when iconv does not know one of the two charsets.
    bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Appends the conversion of all of `in` to `out`. Returns false when stopped at an
    // invalid or truncated sequence; `out` then holds what came before it.
    bool Convert(std::string_view in, std::string& out, OnInvalid onInvalid)
    {
        if (!valid()) return false;
        std::vector<char> inBuf(in.begin(), in.end()); // iconv wants a mutable pointer
        char* inPtr = inBuf.data();
        size_t inLeft = inBuf.size();
        char buf[4096];
        while (inLeft > 0) {
            char* outPtr = buf;
            size_t outLeft = sizeof buf;
            const size_t rc = iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft);
            out.append(buf, static_cast<size_t>(outPtr - buf));
            if (rc != static_cast<size_t>(-1) || errno == E2BIG) continue;
            // EILSEQ, or EINVAL for a sequence cut off at the end.
            if (onInvalid == OnInvalid::Stop) return false;
            out.append("\xEF\xBF\xBD");
            ++inPtr;
            --inLeft;
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        }
        return true;
    }

private:
    iconv_t cd_;
};

} // namespace fw
