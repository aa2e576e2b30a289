// fwmail: checks an account or reads saved mails from a terminal, the way
// Ferrowick does. Exit codes: 0 success, 1 account or file error, 2 usage.
#include "maillib/Charset.h"
#include "maillib/MailLib.h"
#include "fwmail/Interruption.h"
#include "fwmail/SettingsAccount.h"
#include "fwmail/SignInCommands.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kFieldList = "subject:from:date:nofile:";

void PrintUsage(FILE* out)
{
    std::fprintf(out, "usage: fwmail check [--json] [--cafile FILE] [--password-stdin] SERVER USER\n"
                      "       fwmail check [--json] [--cafile FILE] --account N [--folder DIR]\n"
                      "       fwmail read [--json] FILE...\n"
                      "       fwmail password --account N [--folder DIR]   (the password on stdin)\n"
                      "       fwmail login --account N [--folder DIR]\n");
}

int Usage(const char* why = nullptr)
{
    if (why) std::fprintf(stderr, "fwmail: %s\n", maillib::charset::StripDisplayControls(why, "").c_str());
    PrintUsage(stderr);
    return 2;
}

std::string JsonString(const std::string& s)
{
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

struct Fields {
    std::string subject, from, date, nofile, body;
};

std::string ValueOf(const std::string& element)
{
    auto colon = element.find(':');
    std::string v = colon == std::string::npos ? element : element.substr(colon + 1);
    if (!v.empty() && v.front() == ' ') v.erase(0, 1);
    return v;
}

// Everything printed goes through here: no terminal control sequence from a mail or a server.
std::string Shown(const std::string& s, const char* keep = "")
{
    return maillib::charset::StripDisplayControls(s, keep);
}

bool Read(const std::string& path, Fields& f)
{
    std::string ref = path, fields = kFieldList, folder = std::filesystem::path(path).parent_path().string();
    auto list = maillib::ReadMail(ref, fields, folder);
    if (!list || list->size() < 5) return false;
    f.subject = Shown(ValueOf((*list)[0]));
    f.from = Shown(ValueOf((*list)[1]));
    f.date = Shown(ValueOf((*list)[2]));
    f.nofile = Shown(ValueOf((*list)[3]));
    f.body = Shown((*list)[4].substr(std::string("body:").size()), "\n\t");
    return true;
}

std::string Json(const Fields& f, const std::string& file = {})
{
    std::string s = "{";
    if (!file.empty()) s += "\"file\": " + JsonString(Shown(file)) + ", ";
    s += "\"subject\": " + JsonString(f.subject) + ", \"from\": " + JsonString(f.from) +
         ", \"date\": " + JsonString(f.date) + ", \"nofile\": " + JsonString(f.nofile) +
         ", \"body\": " + JsonString(f.body) + "}";
    return s;
}

bool ReadPasswordFromTerminal(const std::string& prompt, std::string& password)
{
    int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    termios old{};
    bool haveTermios = ::tcgetattr(fd, &old) == 0;
    if (haveTermios) {
        termios noEcho = old;
        noEcho.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(fd, TCSAFLUSH, &noEcho);
    }
    ssize_t ignored = ::write(fd, prompt.data(), prompt.size());
    (void)ignored;
    password.clear();
    char c;
    while (::read(fd, &c, 1) == 1 && c != '\n') password += c;
    if (haveTermios) ::tcsetattr(fd, TCSAFLUSH, &old);
    ignored = ::write(fd, "\n", 1);
    ::close(fd);
    return true;
}

std::string ExecutableFolder()
{
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string(".") : exe.parent_path().string();
}

int Check(const std::vector<std::string>& args)
{
    bool json = false, passwordStdin = false;
    std::string cafile, accountText, programFolder;
    std::vector<std::string> pos;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--json") json = true;
        else if (args[i] == "--password-stdin") passwordStdin = true;
        else if (args[i] == "--cafile" && i + 1 < args.size()) cafile = args[++i];
        else if (args[i] == "--account" && i + 1 < args.size()) accountText = args[++i];
        else if (args[i] == "--folder" && i + 1 < args.size()) programFolder = args[++i];
        else if (args[i].rfind("--", 0) == 0) return Usage(("unknown option " + args[i]).c_str());
        else pos.push_back(args[i]);
    }
    std::string server, user, password;
    if (!accountText.empty()) {
        // The account as the resident has it: server, user and password from the settings file.
        if (!pos.empty() || passwordStdin)
            return Usage("--account takes SERVER, USER and the password from the settings file");
        if (accountText.size() != 1 || accountText[0] < '1' || accountText[0] > '5')
            return Usage("--account needs a number from 1 to 5");
        if (programFolder.empty()) programFolder = fwmail::ProgramFolderFor(ExecutableFolder());
        fwmail::SettingsAccount account;
        std::string error;
        if (!fwmail::ReadSettingsAccount(programFolder, accountText[0] - '0', account, error)) {
            std::fprintf(stderr, "fwmail: %s\n", Shown(error).c_str());
            return 1;
        }
        server = account.server;
        user = account.user;
        password = account.password;
        if (cafile.empty()) cafile = account.caFile; // trusted as the resident trusts it
    } else {
        if (!programFolder.empty()) return Usage("--folder goes with --account");
        if (pos.size() != 2) return Usage("check needs SERVER and USER (the password is never an argument)");
        server = pos[0];
        user = pos[1];
        if (passwordStdin) {
            std::getline(std::cin, password);
            if (!password.empty() && password.back() == '\r') password.pop_back();
        } else if (!ReadPasswordFromTerminal(Shown("Password for " + user + " at " + server + ": "), password)) {
            return Usage("no terminal to read the password from; use --password-stdin");
        }
    }

    // The password the settings leave to the keyring or an OAuth2 grant is asked for as the
    // resident asks for it.
    std::unique_ptr<fwmail::CredentialSourceScope> signIn;
    if (!accountText.empty() && password.empty())
        signIn = std::make_unique<fwmail::CredentialSourceScope>(programFolder);

    // From here on an interruption waits until the temporary folder is gone.
    fwmail::WatchInterruptions();
    std::string tmpl =
        (std::getenv("TMPDIR") ? std::string(std::getenv("TMPDIR")) : std::string("/tmp")) + "/fwmail-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!::mkdtemp(buf.data())) {
        std::fprintf(stderr, "fwmail: cannot create a temporary folder: %s\n", std::strerror(errno));
        return 1;
    }
    std::filesystem::path dir(buf.data());
    struct Cleanup {
        std::filesystem::path dir;
        ~Cleanup()
        {
            std::error_code ec;
            std::filesystem::remove_all(dir, ec);
        }
    } cleanup{dir};
    if (!cafile.empty()) {
        std::error_code ec;
        std::filesystem::create_directory(dir / "INI", ec);
        if (ec || !std::filesystem::copy_file(cafile, dir / "INI" / "cacert.pem", ec) || ec) {
            std::fprintf(stderr, "fwmail: cannot use the CA file %s: %s\n", Shown(cafile).c_str(),
                         ec ? ec.message().c_str() : "copy failed");
            return 1;
        }
    }
    std::string mode = "SAVEALL", folder = dir.string();
    auto refs = maillib::RcvMail(server, user, password, mode, folder);
    if (!refs) {
        // The library has said why; the server text is not repeated, it may hold a password.
        std::fprintf(stderr, fwmail::InterruptingSignal() ? "fwmail: interrupted\n" : "fwmail: the check failed\n");
        return 1;
    }
    if (json) std::printf("[");
    else std::printf("%zu mail(s)\n", refs->size());
    bool first = true;
    for (const auto& ref : *refs) {
        Fields f;
        if (!Read(ref, f)) {
            std::fprintf(stderr, "fwmail: cannot read a fetched mail\n");
            continue;
        }
        if (json) {
            std::printf("%s\n  %s", first ? "" : ",", Json(f).c_str());
            first = false;
        } else {
            std::printf("%-19s  %s  %s\n", f.date.empty() ? "(no date)" : f.date.c_str(), f.from.c_str(),
                        f.subject.c_str());
        }
    }
    if (json) std::printf("%s]\n", first ? "" : "\n");
    return 0;
}

int ReadFiles(const std::vector<std::string>& args)
{
    bool json = false;
    std::vector<std::string> files;
    for (const auto& a : args) {
        if (a == "--json") json = true;
        else if (a.rfind("--", 0) == 0) return Usage(("unknown option " + a).c_str());
        else files.push_back(a);
    }
    if (files.empty()) return Usage("read needs at least one FILE");
    int rc = 0;
    bool first = true;
    if (json) std::printf("[");
    for (const auto& file : files) {
        Fields f;
        struct stat st {};
        if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || !Read(file, f)) {
            std::fprintf(stderr, "fwmail: %s: cannot read the file\n", Shown(file).c_str());
            rc = 1;
            continue;
        }
        if (json) {
            std::printf("%s\n  %s", first ? "" : ",", Json(f, file).c_str());
        } else {
            std::printf("%s== %s\nsubject: %s\nfrom: %s\ndate: %s\nnofile: %s\nbody:\n%s\n", first ? "" : "\n",
                        Shown(file).c_str(), f.subject.c_str(), f.from.c_str(), f.date.c_str(), f.nofile.c_str(),
                        f.body.c_str());
        }
        first = false;
    }
    if (json) std::printf("%s]\n", first ? "" : "\n");
    return rc;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) return Usage();
    std::string cmd = argv[1];
    std::vector<std::string> args(argv + 2, argv + argc);
    if (cmd == "check") {
        const int rc = Check(args);
        fwmail::EndIfInterrupted();
        return rc;
    }
    if (cmd == "read") return ReadFiles(args);
    if (cmd == "password") return fwmail::PasswordCommand(args, ExecutableFolder());
    if (cmd == "login") return fwmail::LoginCommand(args, ExecutableFolder());
    if (cmd == "--version") return std::printf("fwmail %s\n", FW_VERSION) < 0;
    if (cmd == "--help" || cmd == "-h" || cmd == "help") {
        PrintUsage(stdout);
        return 0;
    }
    return Usage(("unknown command " + cmd).c_str());
}
