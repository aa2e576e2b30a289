#include "signin/Pkce.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

namespace signin {

QByteArray RandomText(int bytes)
{
    QByteArray raw(bytes, Qt::Uninitialized);
    for (char& c : raw) c = static_cast<char>(QRandomGenerator::system()->bounded(256));
    return raw.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

QByteArray ChallengeOf(const QByteArray& verifier)
{
    return QCryptographicHash::hash(verifier, QCryptographicHash::Sha256)
        .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

Pkce MakePkce()
{
    Pkce pkce;
    pkce.verifier = RandomText(32);
    pkce.challenge = ChallengeOf(pkce.verifier);
    return pkce;
}

} // namespace signin
