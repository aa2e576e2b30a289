// Where the settings dialog's controls sit and in which colours: the design's lengths in
// twips from the client area's top-left corner, converted for the screen in use.
#pragma once

#include "platform/ScreenMetrics.h"

#include <QColor>
#include <QPoint>
#include <QRect>

#include <array>

namespace SettingsDialogLayout {

// Design lengths are twips from the client area's top-left corner.
struct TwipRect {
    int left, top, width, height;
};

inline QRect toPixels(const TwipRect& r) { return ScreenMetrics::TwipsToPixels(r.left, r.top, r.width, r.height); }

inline QPoint toPixels(int x, int y) { return {ScreenMetrics::TwipsToPixelsX(x), ScreenMetrics::TwipsToPixelsY(y)}; }

inline constexpr int kClientWidth = 4020;
inline constexpr int kClientHeight = 4590;

inline const QColor kHeading(255, 255, 128);
inline const QColor kCaption(128, 255, 128);
inline const QColor kNote(255, 192, 192);
inline const QColor kLink(192, 192, 0);
inline const QColor kBoxText(192, 0, 0);
inline const QColor kDimmed(64, 64, 64);
inline const QColor kDimmedEdge(255, 255, 255, 110);
// Behind the wood panel, so the captions stay legible should the picture be missing.
inline const QColor kWoodFallback(92, 58, 30);

inline constexpr int kInterval = 3;
inline constexpr int kDisplayTime = 4;

struct LabelDef {
    TwipRect at;
    const char16_t* caption;
};

// Label1(0) .. Label1(9).
inline const std::array<LabelDef, 10> kLabel1{{
    {{150, 1020, 795, 195}, u"POP認証"},
    {{300, 1320, 1125, 195}, u"POPサーバ"},
    {{300, 1650, 1125, 195}, u"アカウント"},
    {{300, 2010, 1125, 195}, u"パスワード"},
    {{150, 2580, 1395, 195}, u"受信設定"},
    {{270, 2880, 1365, 195}, u"新着メッセージを"},
    {{2220, 2880, 1365, 195}, u"秒ごとに確認する"},
    {{1140, 3630, 2535, 195}, u"秒間表示後、メッセージを閉じる"},
    {{300, 660, 1125, 195}, u"アカウント名"},
    {{2730, 660, 1125, 195}, u"※表示名です"},
}};

// Label2(0) apply, (1) cancel, (2) delete.
inline const std::array<LabelDef, 3> kLabel2{{
    {{2700, 4170, 1185, 255}, u"適用"},
    {{1410, 4170, 1185, 255}, u"キャンセル"},
    {{2340, 180, 1035, 255}, u"削除"},
}};

// The server box's tooltip: the forms a server may be written in.
inline constexpr const char16_t* kServerFormsTip =
    u"POPサーバ欄の書き方:\n"
    u"・mail.example.jp または pop3s://mail.example.jp[:ポート] … POP3（TLS、995番）\n"
    u"・pop3://mail.example.jp[:ポート] … POP3（STLS 必須、110番）\n"
    u"・imaps://imap.example.jp[:ポート][/メールボックス] … IMAP（TLS、993番）\n"
    u"・imap://imap.example.jp[:ポート][/メールボックス] … IMAP（STARTTLS 必須、143番）\n"
    u"・insecure-pop3:// / insecure-imap:// … 暗号化なし（パスワードが平文で流れます）\n"
    u"IMAP のメールボックスは省略すると INBOX です（日本語名も可）。\n"
    u"IMAP でサーバーが IDLE に対応していれば、新着をすぐに知らせます。";

// 「接続テスト」: in the free corner left of the cancel caption, in the same style.
inline const LabelDef kTestLabel{{150, 4170, 1185, 255}, u"接続テスト"};

// popServer(0) server, (1) user, (2) password, (3) interval, (4) display time.
inline const std::array<TwipRect, 5> kPopServer{{
    {1350, 1260, 2415, 255},
    {1350, 1620, 2415, 255},
    {1350, 1980, 2415, 255},
    {1680, 2850, 465, 255},
    {570, 3600, 495, 255},
}};

// Line1(0) .. Line1(3) as x1, y1, x2, y2.
inline const std::array<std::array<int, 4>, 4> kLine1{{
    {-60, 2430, 4770, 2430},
    {930, 1110, 4770, 1110},
    {930, 2670, 4770, 2670},
    {-150, 4020, 4680, 4020},
}};

inline const std::array<const char16_t*, 5> kAccounts{u"アカウント①", u"アカウント②", u"アカウント③", u"アカウント④",
                                                      u"アカウント⑤"};

} // namespace SettingsDialogLayout
