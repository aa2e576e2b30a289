#pragma once
#include <QByteArray>
#include <QString>

// Conversions at the file boundary. Inside the program every text is Unicode; files written
// on Windows are CP932 (Microsoft's Shift_JIS), so they are decoded and encoded with iconv.
namespace TextCodec {

bool IsValidUtf8(const QByteArray& bytes);
bool HasUtf8Bom(const QByteArray& bytes);

// Undecodable bytes become U+FFFD; nothing else is lost.
QString DecodeCp932(const QByteArray& bytes);

// Returns false (and leaves `out` partial) when a character has no CP932 form.
bool EncodeCp932(const QString& text, QByteArray& out);

// CP932 if the text can be written so, UTF-8 otherwise.
QByteArray EncodeCp932OrUtf8(const QString& text);

// The longest prefix of `text` whose encoded form fits in `maxBytes`, never splitting a character.
QString TruncateEncoded(const QString& text, int maxBytes, bool cp932);

} // namespace TextCodec
