// libFuzzer target: the INI reader on arbitrary bytes, then a write and a second reading.
// A write either fails and leaves the file as it was, or stores the value so that it reads
// back as written while every other key reads as before.
#include "platform/ProfileIni.h"
#include "platform/TextCodec.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QPair>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <unistd.h>

namespace {

const QString& iniPath()
{
    static const QString path = [] {
        const QString folder =
            (QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath()) +
            QStringLiteral("/fuzz_profileini.") + QString::number(::getpid());
        QDir().mkpath(folder);
        return folder + QStringLiteral("/maildata.ini");
    }();
    return path;
}

QByteArray readBack(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// What to ask for: the names the bytes seem to hold, in every plausible reading, and fixed ones.
QList<QPair<QString, QString>> queriesFor(const QByteArray& bytes)
{
    QList<QPair<QString, QString>> queries{
        {"POP", "USER1"}, {"POP", "NAME1"}, {"MAIL_REV", "REV_TIMER_MIN"}, {"", "USER1"}};
    for (const QString& text : {QString::fromUtf8(bytes), TextCodec::DecodeCp932(bytes)}) {
        QString section;
        for (QString line : text.split(u'\n')) {
            line = line.trimmed();
            if (line.startsWith(u'[') && line.contains(u']')) section = line.mid(1, line.indexOf(u']') - 1).trimmed();
            else if (line.contains(u'=')) queries.append({section, line.left(line.indexOf(u'=')).trimmed()});
            if (queries.size() > 64) return queries;
        }
    }
    return queries;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    // The first byte picks the write; the rest is the file.
    const uint8_t choice = data[0];
    const QByteArray file(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
    const QString& path = iniPath();
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(file) != file.size()) std::abort();
    }
    const QList<QPair<QString, QString>> queries = queriesFor(file);
    QStringList before;
    for (const auto& [section, key] : queries) before << ProfileIni::GetString(section, key, path);

    static const QString sections[] = {QStringLiteral("POP"), QStringLiteral("pop"), QStringLiteral("MAIL_REV"),
                                       QStringLiteral("NEW")};
    static const QString keys[] = {QStringLiteral("USER1"), QStringLiteral("NAME1"), QStringLiteral("PASS2"),
                                   QStringLiteral("X")};
    static const QString values[] = {
        QStringLiteral("v"), QStringLiteral("会社#"), QStringLiteral("a b"), QStringLiteral("\U0001F600"),
        QString(),           QStringLiteral("x=y;z")};
    const QString& section = sections[choice & 3];
    const QString& key = keys[(choice >> 2) & 3];
    const QString& value = values[(choice >> 4) % 6];

    QString error;
    if (!ProfileIni::WriteString(section, key, value, path, &error)) {
        if (error.isEmpty() || readBack(path) != file) std::abort();
        return 0;
    }
    if (ProfileIni::GetString(section, key, path) != value) std::abort();
    for (qsizetype i = 0; i < queries.size(); ++i) {
        const auto& [s, k] = queries[i];
        if (s.compare(section, Qt::CaseInsensitive) == 0 && k.compare(key, Qt::CaseInsensitive) == 0) continue;
        if (ProfileIni::GetString(s, k, path) != before[i]) std::abort();
    }
    return 0;
}
