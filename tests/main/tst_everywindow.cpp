// Every window and dialog of the program, as a screen reader and a large
// display see it: each control a user can reach has a name, and no control
// lies outside its window, also with a large application font, and every
// window fits its screen. CTest runs this program at a display scale of 2.

#include "mainwindowapp.h"
#include "modalwatcher.h"

#include "grid/gridwindow.h"
#include "main/aboutbox.h"
#include "main/mainwindow.h"
#include "main/splash.h"
#include "print/optionsdialog.h"
#include "records/recordeditor.h"
#include "records/recordlist.h"
#include "records/recordwindow.h"
#include "shell/prompts.h"
#include "tree/categorysearch.h"

#include <QAccessible>
#include <QApplication>
#include <QDialog>
#include <QPrinter>
#include <QToolButton>
#include <QtTest>

using namespace zumilo;

namespace {

enum class Window { Main, Calendar, Picker, Grid, Record, CategorySearch, Options, About };

struct Env : test::MainWindowApp {
    Env()
    {
        category(1, QStringLiteral("仕事"), 0);
        note(10, QStringLiteral("議事録"), 1, {{QStringLiteral("bunrui"), QStringLiteral("仕事")}});
        load();
        choose(QStringLiteral("1_id"));
    }

    // Opens the window as the user would reach it, and returns it shown.
    QWidget* open(Window which)
    {
        app::MainWindow& main = *window;
        switch (which) {
        case Window::Main:
            return &main;
        case Window::Calendar:
        case Window::Picker: {
            const auto name = which == Window::Calendar ? QStringLiteral("cmdCalOpen(0)")
                                                        : QStringLiteral("cmdBunOpen");
            QTest::mouseClick(main.findChild<QToolButton*>(name), Qt::LeftButton);
            return &main;
        }
        case Window::Grid:
            main.ShowGridWindow();
            return main.gridWindow();
        case Window::Record:
            QTest::keyClick(main.recordList(), Qt::Key_Return);
            return topLevel<records::RecordWindow>();
        case Window::CategorySearch:
            main.OpenCategorySearch(QStringLiteral("仕事"));
            return topLevel<tree::CategorySearchWindow>();
        case Window::Options:
            dialog = std::make_unique<print::OptionsDialog>(*state, &main);
            break;
        case Window::About:
            dialog = std::make_unique<app::AboutBox>(*state, &main);
            break;
        }
        dialog->show();
        return dialog.get();
    }

    // The window opened, once it shows; nullptr when it does not.
    QWidget* shown(Window which)
    {
        QWidget* w = open(which);
        return w && QTest::qWaitForWindowExposed(w) ? w : nullptr;
    }

    template <class T>
    static T* topLevel()
    {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* t = qobject_cast<T*>(w); t && t->isVisible())
                return t;
        }
        return nullptr;
    }

    ~Env()
    {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (qobject_cast<records::RecordWindow*>(w))
                w->close();
        }
    }

    std::unique_ptr<QDialog> dialog;
};

// Rows of every window, each with the application fonts of `points` (0 is
// the desktop's own).
void addWindows(const QList<int>& points)
{
    QTest::addColumn<Window>("which");
    QTest::addColumn<int>("fontPoints");
    const std::pair<const char*, Window> windows[] = {
        {"main", Window::Main},
        {"main, calendar open", Window::Calendar},
        {"main, category picker open", Window::Picker},
        {"grid", Window::Grid},
        {"single record", Window::Record},
        {"category search", Window::CategorySearch},
        {"options", Window::Options},
        {"about", Window::About},
    };
    for (const auto& [name, which] : windows) {
        for (int p : points)
            QTest::addRow("%s, %d pt", name, p) << which << p;
    }
}

QString describe(const QWidget* w)
{
    return QStringLiteral("%1 (%2)").arg(w->objectName(), QString::fromLatin1(w->metaObject()->className()));
}

// The shown controls a user can reach by keys or pointer whose accessible
// name is empty, found by walking the accessibility tree as AT-SPI does.
QStringList unnamedControls(QAccessibleInterface* iface)
{
    QStringList unnamed;
    for (int i = 0; i < iface->childCount(); ++i) {
        QAccessibleInterface* child = iface->child(i);
        auto* w = child ? qobject_cast<QWidget*>(child->object()) : nullptr;
        if (!w || child->state().invisible)
            continue;
        if (w->focusPolicy() != Qt::NoFocus && child->text(QAccessible::Name).trimmed().isEmpty())
            unnamed << describe(w);
        unnamed << unnamedControls(child);
    }
    return unnamed;
}

// Shown controls that reach past the window's edges.
QStringList outsideControls(QWidget* window)
{
    QStringList outside;
    const QRect room = window->rect();
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(window) || w->isWindow() || w->window() != window)
            continue;
        const QRect at(w->mapTo(window, QPoint(0, 0)), w->size());
        // What a scroll area shows through its viewport may be larger.
        if (!room.contains(at) && !qobject_cast<QAbstractScrollArea*>(w->parentWidget()->parentWidget()))
            outside << QStringLiteral("%1 at %2,%3 %4x%5")
                           .arg(describe(w))
                           .arg(at.x())
                           .arg(at.y())
                           .arg(at.width())
                           .arg(at.height());
    }
    return outside;
}

} // namespace

Q_DECLARE_METATYPE(Window)

class TestEveryWindow : public QObject {
    Q_OBJECT

private slots:
    void controlsHaveNames_data() { addWindows({0}); }
    void controlsHaveNames()
    {
        QFETCH(Window, which);
        Env env;
        QWidget* window = env.shown(which);
        QVERIFY(window);
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(window);
        QVERIFY(iface);
        const QStringList unnamed = unnamedControls(iface);
        QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(QStringLiteral(", "))));
    }

    // The desktop's dialogs the prompts show, which Qt builds.
    void promptsHaveNames_data()
    {
        QTest::addColumn<int>("prompt");
        const char* const prompts[] = {"message", "input", "choice", "open file", "font", "print preview"};
        for (int i = 0; i < 6; ++i)
            QTest::newRow(prompts[i]) << i;
    }
    void promptsHaveNames()
    {
        QFETCH(int, prompt);
        shell::QtPrompts qt;
        shell::Prompts& prompts = qt;
        QPrinter printer;
        printer.setOutputFormat(QPrinter::PdfFormat);
        std::optional<QStringList> unnamed;
        test::ModalWatcher watcher([&](QWidget* w) {
            unnamed = unnamedControls(QAccessible::queryAccessibleInterface(w));
            static_cast<QDialog*>(w)->reject();
        });
        const QString text = QStringLiteral("分類名は？");
        switch (prompt) {
        case 0:
            prompts.message(nullptr, text, shell::Msg::YesNoCancel);
            break;
        case 1:
            prompts.input(nullptr, text);
            break;
        case 2:
            prompts.choose(nullptr, text, {QStringLiteral("仕事"), QStringLiteral("趣味")});
            break;
        case 3:
            prompts.openFile(nullptr, QDir::tempPath(), QStringLiteral("*.zmd"));
            break;
        case 4:
            prompts.font(nullptr, QApplication::font());
            break;
        case 5:
            prompts.printPreview(nullptr, &printer, [](QPrinter*) {});
            break;
        }
        QVERIFY(unnamed);
        QVERIFY2(unnamed->isEmpty(), qPrintable(unnamed->join(QStringLiteral(", "))));
    }

    void controlsInsideWindow_data() { addWindows({0, 20}); }
    void controlsInsideWindow()
    {
        QFETCH(Window, which);
        QFETCH(int, fontPoints);
        const QFont desktop = QApplication::font();
        const auto restore = qScopeGuard([&] { QApplication::setFont(desktop); });
        if (fontPoints) {
            QFont large = desktop;
            large.setPointSize(fontPoints);
            QApplication::setFont(large);
        }
        Env env;
        QWidget* window = env.shown(which);
        QVERIFY(window);
        const QStringList outside = outsideControls(window);
        QVERIFY2(outside.isEmpty(),
                 qPrintable(QStringLiteral("window %1x%2: ").arg(window->width()).arg(window->height())
                            + outside.join(QStringLiteral(", "))));
    }

    // Each window's frame lies within the screen's free area, so its title
    // bar, menus and status bar stay within reach. CTest runs this also on
    // screens of 1366x768 and 1280x720 pixels at twice the scale.
    void windowsFitTheScreen_data() { addWindows({0}); }
    void windowsFitTheScreen()
    {
        QFETCH(Window, which);
        Env env;
        QWidget* window = env.shown(which);
        QVERIFY(window);
        const QRect free = window->screen()->availableGeometry();
        QVERIFY2(free.contains(window->frameGeometry()), qPrintable(QDebug::toString(window->frameGeometry())
                                                                    + QStringLiteral(" on ") + QDebug::toString(free)));
    }

    // The splash is drawn with every pixel its screen shows it with.
    void splashAtTheScreensScale()
    {
        app::Splash splash;
        splash.show();
        QVERIFY(QTest::qWaitForWindowExposed(&splash));
        const qreal ratio = splash.screen()->devicePixelRatio();
        QCOMPARE(splash.pixmap().devicePixelRatio(), ratio);
        QCOMPARE(splash.pixmap().size(), splash.size() * ratio);
    }
};

QTEST_MAIN(TestEveryWindow)
#include "tst_everywindow.moc"
