#pragma once
#include "controller/FormHost.h"

#include <QFont>
#include <QWidget>

namespace notify {

class Control;
class Forms;

// A notification window: frameless, always on top, cut to its controls. Its controls are built
// in the constructor at their design rectangles (twips); Form_Load runs when the registry loads
// it, Form_Unload when the registry unloads it. The registry that made it is its way to the
// other windows.
class NotifyForm : public QWidget {
    Q_OBJECT
public:
    FormId id() const { return id_; }

    virtual void Form_Load() = 0;
    virtual void Form_Unload() {}

protected:
    NotifyForm(Forms& forms, FormId id, double clientWidthTwips, double clientHeightTwips, bool takesFocus);

    Forms& forms() const { return forms_; }

    // A control at a design rectangle in twips inside the client area.
    Control* AddControl(const QString& name, double left, double top, double width, double height);
    Control* AddPicture(const QString& name, double left, double top, double width, double height,
                        const QString& resource);
    Control* AddCaption(const QString& name, double left, double top, double width, double height, const QFont& font,
                        const QColor& color, Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignTop);

    // The display time in seconds (UNLOAD_TIMER_SEC), read from the settings file now.
    static qint16 ReadDisplaySeconds();

    // Moves the window's outer upper-left corner to a screen position in twips.
    void PlaceAt(double leftTwips, double topTwips);
    double OuterWidthTwips() const;
    double OuterHeightTwips() const;

private:
    Forms& forms_;
    FormId id_;
};

} // namespace notify
