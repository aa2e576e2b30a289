// Forgets one GMime stream on purpose. Run by the sanitizer build, which must report it with
// the project's suppressions in force: a leak in maillib's use of GMime looks just like it.
#include <gmime/gmime.h>

#include <cstdio>

namespace {

// Out of line, so that no copy of the pointer is left in main's frame.
[[gnu::noinline]] void forgetStream()
{
    GMimeStream* stream = g_mime_stream_mem_new();
    g_mime_stream_write_string(stream, "never unreferenced");
}

} // namespace

int main()
{
    g_mime_init();
    forgetStream();
    std::puts("stream forgotten");
    return 0;
}
