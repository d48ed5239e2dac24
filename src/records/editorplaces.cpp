#include "editorplaces.h"

#include "recordeditor.h"

#include "shell/twips.h"
#include "shell/twipslayout.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <algorithm>

namespace zumilo::records {

namespace {

QWidget* controlNamed(const RecordEditor& editor, const QString& name)
{
    for (QWidget* w : editor.controls()) {
        if (w && w->objectName() == name)
            return w;
    }
    return nullptr;
}

double hint(int pixels)
{
    return shell::pixelsToTwips(pixels);
}

} // namespace

double placeEditor(shell::TwipsLayout& layout, RecordEditor& editor, const QList<EditorPlace>& places)
{
    // The first row is the category box's; everything below it moves.
    double firstRowTop = 0;
    for (const EditorPlace& p : places) {
        if (QLatin1String(p.name) == QLatin1String("Text1(3)"))
            firstRowTop = p.top;
    }
    const double lineHeight = std::max(270.0, hint(editor.lineBox(4)->sizeHint().height()));
    const double checkHeight = std::max(
        {220.0, hint(editor.check(0)->sizeHint().height()), hint(editor.check(1)->sizeHint().height())});
    const double shift = std::max(0.0, std::max(lineHeight, checkHeight) - 270.0);
    const double buttonSize = std::max(250.0, lineHeight - 20);

    for (const EditorPlace& p : places) {
        const QString name = QString::fromLatin1(p.name);
        QWidget* w = controlNamed(editor, name);
        if (!w)
            continue;
        shell::TwipsGeometry g{p.left, p.top, p.width, p.height};
        if (p.top > firstRowTop + 200)
            g.top += shift;
        if (qobject_cast<QLabel*>(w)) {
            const double width = std::max(p.width, hint(w->sizeHint().width()));
            g.left = std::max(0.0, p.left + p.width - width);
            g.width = width;
            g.height = std::max(p.height, hint(w->sizeHint().height()));
        } else if (qobject_cast<QLineEdit*>(w)) {
            g.height = lineHeight;
        } else if (name.startsWith(QLatin1String("Check1"))) {
            g.width = std::max(p.width, hint(w->sizeHint().width()));
            g.height = checkHeight;
        } else if (name.startsWith(QLatin1String("cmd"))) {
            g.height = buttonSize;
        }
        layout.add(name, w, g);
    }
    return shift;
}

} // namespace zumilo::records
