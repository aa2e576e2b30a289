#pragma once
#include <QDate>
#include <QString>

// The work folders inside the program folder (settings/ProgramFolder.h finds that).
namespace WorkFolders {

// Sets the shared work paths from the program folder and the start date.
void SetPaths(const QString& programFolder, const QDate& startDate);

// Creates the missing work folders and the placeholder file of an incomplete installation,
// and removes what an earlier run that was killed left behind (copies of the settings).
// Returns false when a folder or the placeholder cannot be created (the reason goes to `error`).
bool RepairInstallation(const QString& programFolder, QString* error = nullptr);

// Creates or empties the day log and writes its first line.
bool StartDayLog(QString* error = nullptr);

// True when `key` (blanks around it ignored) is a line of the day log or was looked up before
// in this run. When it is not, appends it as a new line so that the next look-up finds it;
// a key the file cannot take still counts as logged (the failure is said once).
// The file is read once; later look-ups read only what was added to it since.
bool LookUpOrAppend(const QString& key);

// Held while one check's mails are looked up: the file is read for lines added by others
// once, at the first look-up, instead of at every one (our own lines are taken as written).
class DayLogBatch {
public:
    DayLogBatch();
    ~DayLogBatch();
    DayLogBatch(const DayLogBatch&) = delete;
    DayLogBatch& operator=(const DayLogBatch&) = delete;
};

// Deletes the mail copies an older version kept loose in maildata/.fw-cache (copies now live in
// a folder per account, which the mail library looks after): only files named as it named
// them, only in a real folder of ours, never through a link. RepairInstallation calls it.
// Returns how many were deleted.
int RemoveOldMailCopies(const QString& programFolder);

// Removes the mail files the mail library left in the receive folder. The placeholder copy
// guarantees the folder holds at least one *.txt file to delete. Returns false when the copy
// could not be written (said once on the warnings until it works again); the mails are deleted all the same.
bool PurgeReceiveFolder();

} // namespace WorkFolders
