#pragma once
#include <QString>

// The rules the settings dialog applies before it writes anything, without the dialog: what
// the boxes hold goes in, the verdict and the display time to write come out.
namespace SettingsValidation {

// The texts of the boxes when the user applies.
struct Entry {
    QString server, user, password;
    QString interval; // seconds between checks
    QString display;  // seconds the notification windows stay
    bool autoClose = false;
};

// The checks in the order they are made; the first that fails decides.
enum class Verdict {
    Ok,
    Blank,            // a box that must be filled is empty (spaces count as filled)
    IntervalTooShort, // under 5 seconds
    IntervalTooLong,  // over the largest number the resident side can hold
    DisplayTooShort,  // under 1 second, checked even when auto-close is off
    DisplayTooLong,
};

struct Result {
    Verdict verdict = Verdict::Ok;
    // With Ok: the display time to write. It is capped at two seconds under the interval, so
    // that the windows close before the next check brings new ones.
    QString display;
};

// The settings store seconds as signed 16-bit numbers.
constexpr int kLargestSeconds = 32767;

Result Check(const Entry& entry);

// The message the dialog shows for a failed check.
QString Message(Verdict verdict);

} // namespace SettingsValidation
