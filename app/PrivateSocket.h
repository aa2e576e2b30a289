#pragma once
#include <QString>

// Where a local socket of ours may live, and who is at the other end of one. A name in a
// folder that other users can write is theirs to squat on; a folder only we can enter is not.
namespace PrivateSocket {

// $XDG_RUNTIME_DIR when it is a folder of ours that nobody else may enter; otherwise
// ferrowick-<uid> in the temporary folder.
QString Folder();

// Makes Folder() when it is missing, with mode 0700. True when it is then a private folder
// of ours; otherwise `why` says what stands in the way (another user's folder, say).
bool MakeFolder(QString* why = nullptr);

// True when `path` is a folder (not a link to one) of this user that no one else may enter.
bool IsPrivateFolder(const QString& path, QString* why = nullptr);

// The user id of the process at the other end of a connected local socket; -1 when unknown.
long PeerUid(qintptr socket);

// True when the other end runs as this user.
bool PeerIsUs(qintptr socket);

} // namespace PrivateSocket
