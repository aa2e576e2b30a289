#pragma once
#include "controller/FormHost.h"

#include <QColor>
#include <QList>
#include <QString>

// Where the notification windows go and what their strips say. Lengths are twips measured from
// the whole screen's upper-left corner; W and H are the screen's width and height in twips.
namespace notify::layout {

struct Corner {
    double left = 0;
    double top = 0;
    bool operator==(const Corner&) const = default;
};

Corner NotifierCorner(double W, double H);
// Header, cards and footer share one left edge.
double StackLeft(double W);
// Card k = 1 (lowest) .. 5 (highest).
Corner CardCorner(int k, double W, double H);
Corner FooterCorner(double W, double H);
// The detail window sits 100 twips from the right edge and 500 above the bottom.
Corner BodyCorner(double W, double H, double outerWidth, double outerHeight);

// What opening the stack shows for `mailCount` mails: the header's top is H - headerDistance,
// and the windows are shown in the listed order, header first.
struct StackLayout {
    int headerDistance = 0;
    QList<FormId> windows;
};
StackLayout StackLayoutFor(qint32 mailCount);
// The header's distance from the bottom whenever the footer is shown.
constexpr int kFullStackHeaderDistance = 5865 + 400;

// StackTop for a top position in twips: whole twips.
qint64 StackTopTwips(double topTwips);

QString HeaderCaption(qint32 mailCount);
QString FooterCaption(qint64 remaining);
constexpr const char16_t* kNoMailsLeft = u"残メール無し";

// One press of the footer's button: the next PageOffset and the footer's caption.
struct ScrollStep {
    qint32 pageOffset = 0;
    QString caption;
};
ScrollStep NextScroll(qint32 extraCount, qint32 pageOffset);

// Colours are given as &HBBGGRR values.
QColor ColorFromBgr(quint32 bgr);
// The account number 1..5 a mail's account text names (exact text), or 0 for anything else.
int AccountNumber(const QString& label);
QColor AccountColor(int account);
// Card k's caption before it is filled: "【アカウントk】" with a full-width digit.
QString CardDesignCaption(int k);

} // namespace notify::layout
