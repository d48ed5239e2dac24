#include "shell/prompts.h"

#include "modalwatcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPrinter>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <functional>

using namespace zumilo::shell;
using namespace Qt::StringLiterals;

using zumilo::test::ModalWatcher;

class TestQtPrompts : public QObject {
    Q_OBJECT

private slots:
    void messageStyle_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<QMessageBox::StandardButtons>("buttons");
        QTest::addColumn<QMessageBox::Icon>("icon");
        QTest::addColumn<QMessageBox::StandardButton>("defaultButton");
        QTest::addColumn<QMessageBox::StandardButton>("click"); // NoButton: Escape; Close: the box closed
        QTest::addColumn<int>("answer");
        using B = QMessageBox;
        QTest::newRow("0 ok") << 0 << B::StandardButtons(B::Ok) << B::NoIcon << B::Ok << B::Ok << Msg::Ok;
        QTest::newRow("1 ok cancel") << 1 << (B::Ok | B::Cancel) << B::NoIcon << B::Ok << B::Cancel << Msg::Cancel;
        QTest::newRow("3 yes no cancel") << 3 << (B::Yes | B::No | B::Cancel) << B::NoIcon << B::Yes << B::No
                                         << Msg::No;
        QTest::newRow("4 yes no") << 4 << (B::Yes | B::No) << B::NoIcon << B::Yes << B::Yes << Msg::Yes;
        QTest::newRow("324 info, default no") << 324 << (B::Yes | B::No) << B::Information << B::No << B::No << Msg::No;
        QTest::newRow("308 exclamation, default no")
            << 308 << (B::Yes | B::No) << B::Warning << B::No << B::Yes << Msg::Yes;
        QTest::newRow("547 question, cancel default")
            << 547 << (B::Yes | B::No | B::Cancel) << B::Question << B::Cancel << B::Cancel << Msg::Cancel;
        QTest::newRow("529 critical, default past last")
            << 529 << (B::Ok | B::Cancel) << B::Critical << B::Ok << B::Ok << Msg::Ok;
        // Dismissed, the box answers as its cancelling button would.
        QTest::newRow("0 ok, escape") << 0 << B::StandardButtons(B::Ok) << B::NoIcon << B::Ok << B::NoButton << Msg::Ok;
        QTest::newRow("1 ok cancel, escape")
            << 1 << (B::Ok | B::Cancel) << B::NoIcon << B::Ok << B::NoButton << Msg::Cancel;
        QTest::newRow("3 yes no cancel, closed")
            << 3 << (B::Yes | B::No | B::Cancel) << B::NoIcon << B::Yes << B::Close << Msg::Cancel;
        QTest::newRow("4 yes no, escape") << 4 << (B::Yes | B::No) << B::NoIcon << B::Yes << B::NoButton << Msg::No;
        QTest::newRow("324 info, closed") << 324 << (B::Yes | B::No) << B::Information << B::No << B::Close << Msg::No;
    }
    void messageStyle()
    {
        QFETCH(int, style);
        QFETCH(QMessageBox::StandardButtons, buttons);
        QFETCH(QMessageBox::Icon, icon);
        QFETCH(QMessageBox::StandardButton, defaultButton);
        QFETCH(QMessageBox::StandardButton, click);
        QFETCH(int, answer);

        QMessageBox::StandardButtons shownButtons;
        QMessageBox::Icon shownIcon{};
        QMessageBox::StandardButton shownDefault{};
        bool openDuring = false;
        ModalWatcher watcher([&](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            shownButtons = box->standardButtons();
            shownIcon = box->icon();
            shownDefault = box->standardButton(box->defaultButton());
            openDuring = promptIsOpen();
            if (click == QMessageBox::NoButton)
                QTest::keyClick(box, Qt::Key_Escape);
            else if (click == QMessageBox::Close)
                box->close();
            else
                box->button(click)->click();
            // A box that ignored us must not hang the test.
            if (box->isVisible())
                box->buttons().constFirst()->click();
        });

        QtPrompts prompts;
        QCOMPARE(prompts.message(nullptr, QStringLiteral("本当に?"), style, {}), answer);
        QVERIFY(openDuring);
        QVERIFY(!promptIsOpen());
        QCOMPARE(shownButtons, buttons);
        QCOMPARE(shownIcon, icon);
        QCOMPARE(shownDefault, defaultButton);
    }

    void messageTextAndTitle_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("shownText");
        QTest::addColumn<QString>("shownTitle");
        QTest::newRow("crlf") << u"一行目\r\n二行目"_s << u"確認"_s << u"一行目\n二行目"_s << u"確認"_s;
        QTest::newRow("lone cr") << u"a\rb\r\rc"_s << u""_s << u"a\nb\n\nc"_s << u"Zumilo"_s;
        QTest::newRow("markup stays text") << u"<b>x</b> & y"_s << u""_s << u"<b>x</b> & y"_s << u"Zumilo"_s;
    }
    void messageTextAndTitle()
    {
        QFETCH(QString, text);
        QFETCH(QString, title);
        QFETCH(QString, shownText);
        QFETCH(QString, shownTitle);
        QString seenText, seenTitle;
        Qt::TextFormat format = Qt::AutoText;
        ModalWatcher watcher([&](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            seenText = box->text();
            seenTitle = box->windowTitle();
            format = box->textFormat();
            box->buttons().constFirst()->click();
        });
        QtPrompts().message(nullptr, text, Msg::OkOnly, title);
        QCOMPARE(seenText, shownText);
        QCOMPARE(seenTitle, shownTitle);
        QCOMPARE(format, Qt::PlainText);
    }

    void input_data()
    {
        QTest::addColumn<QString>("defaultText");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("accept");
        QTest::addColumn<std::optional<QString>>("expected");
        QTest::newRow("typed") << u"メモ"_s << u"新しい名前"_s << true << std::optional<QString>(u"新しい名前"_s);
        QTest::newRow("accepted empty") << u"x"_s << u""_s << true << std::optional<QString>(u""_s);
        QTest::newRow("cancelled") << u"x"_s << u"y"_s << false << std::optional<QString>();
    }
    void input()
    {
        QFETCH(QString, defaultText);
        QFETCH(QString, typed);
        QFETCH(bool, accept);
        QFETCH(std::optional<QString>, expected);
        QString prefilled, label;
        ModalWatcher watcher([&](QWidget* w) {
            auto* dialog = qobject_cast<QInputDialog*>(w);
            prefilled = dialog->textValue();
            label = dialog->labelText();
            dialog->setTextValue(typed);
            accept ? dialog->accept() : dialog->reject();
        });
        QCOMPARE(QtPrompts().input(nullptr, QStringLiteral("名前:\r\n(30 文字まで)"), {}, defaultText), expected);
        QCOMPARE(prefilled, defaultText);
        QCOMPARE(label, u"名前:\n(30 文字まで)");
    }

    void fileDialogs_data()
    {
        QTest::addColumn<bool>("save");
        QTest::addColumn<QString>("pick");
        QTest::addColumn<bool>("chosen");
        QTest::newRow("open") << false << u"a.zmd"_s << true;
        QTest::newRow("open cancelled") << false << u""_s << false;
        QTest::newRow("save over existing") << true << u"a.zmd"_s << true;
        QTest::newRow("save new, suffix added") << true << u"new"_s << true;
        QTest::newRow("save the pattern as filled in") << true << u"*.zmd"_s << true;
        QTest::newRow("open a typed pattern") << false << u"b.*"_s << true;
    }
    void fileDialogs()
    {
        QFETCH(bool, save);
        QFETCH(QString, pick);
        QFETCH(bool, chosen);
        QTemporaryDir dir;
        for (const char* name : {"a.zmd", "b.txt"}) {
            QFile f(dir.filePath(QString::fromLatin1(name)));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        QString folder, nameBox;
        QStringList modelFilters;
        bool hidesOthers = false, mustExist = false, confirms = true;
        int dialogs = 0;
        ModalWatcher watcher([&](QWidget* w) {
            ++dialogs;
            auto* dialog = qobject_cast<QFileDialog*>(w);
            if (!dialog) { // an overwrite question, say: go on, and let it count
                auto* box = qobject_cast<QMessageBox*>(w);
                QAbstractButton* yes = box ? box->button(QMessageBox::Yes) : nullptr;
                yes ? yes->click() : void(w->close());
                return;
            }
            folder = dialog->directory().absolutePath();
            auto* model = dialog->findChild<QFileSystemModel*>();
            modelFilters = model->nameFilters();
            hidesOthers = !model->nameFilterDisables();
            nameBox = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text();
            mustExist = dialog->fileMode() == QFileDialog::ExistingFile;
            confirms = !dialog->testOption(QFileDialog::DontConfirmOverwrite);
            if (!chosen)
                return dialog->reject();
            dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(pick);
            static_cast<QDialog*>(dialog)->accept();
            if (dialog->isVisible()) // refused the name
                dialog->reject();
        });
        QtPrompts prompts;
        const auto path = save ? prompts.saveFile(nullptr, dir.path(), QStringLiteral("*.zmd"))
                               : prompts.openFile(nullptr, dir.path(), QStringLiteral("*.zmd"));
        const QString expectedPath = dir.filePath(pick.endsWith(u".zmd") ? pick : pick + QStringLiteral(".zmd"));
        // A pattern only lists what it matches; nothing is chosen or made.
        const bool pattern = pick.contains(u'*');
        QCOMPARE(path, chosen && !pattern ? std::optional<QString>(expectedPath) : std::nullopt);
        QVERIFY(!QFile::exists(dir.filePath(pick)) || !pattern);
        QCOMPARE(dialogs, 1);
        QCOMPARE(folder, dir.path());
        QCOMPARE(nameBox, u"*.zmd");
        QCOMPARE(modelFilters, QStringList{u"*.zmd"_s});
        QVERIFY(hidesOthers);
        QCOMPARE(mustExist, !save);
        if (save)
            QVERIFY(!confirms);
    }

    // A click on the box's button stops the task; the box is a prompt while up.
    void progressStopsAtTheButton()
    {
        ModalWatcher watcher([](QWidget* w) { QTest::mouseClick(w->findChild<QPushButton*>(), Qt::LeftButton); });
        auto progress = QtPrompts().progress(nullptr, QStringLiteral("エクスポート中です・・・"), 1000, true);
        QVERIFY(promptIsOpen());
        qint64 done = 0;
        while (done < 1000000 && progress->advance(++done % 1000)) {
        }
        QVERIFY(done < 1000000);
        progress.reset();
        QVERIFY(!promptIsOpen() && !QApplication::activeModalWidget());
    }

    // The preview's print button only closes it (the caller prints, on
    // the set-up the preview showed); no printer or page dialog comes up.
    void printPreview_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("print");
        QTest::newRow("print") << u"印刷(&P)"_s << true;
        QTest::newRow("close") << u"閉じる"_s << false;
    }

    void printPreview()
    {
        QFETCH(QString, button);
        QFETCH(bool, print);
        QPrinter printer;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setPageSize(QPageSize(QPageSize::JisB5));
        printer.setPageOrientation(QPageLayout::Landscape);
        int painted = 0;
        QStringList dialogs;
        ModalWatcher watcher([&](QWidget* dialog) {
            dialogs << dialog->windowTitle();
            for (QToolButton* b : dialog->findChildren<QToolButton*>()) {
                if (b->defaultAction() && b->defaultAction()->text() == button)
                    QTest::mouseClick(b, Qt::LeftButton);
            }
        });
        QtPrompts prompts;
        const bool printed = prompts.printPreview(nullptr, &printer, [&](QPrinter* p) {
            ++painted;
            QPainter(p).drawText(QPointF(100, 100), QStringLiteral("本文"));
        });
        QCOMPARE(printed, print);
        QCOMPARE(dialogs, QStringList{QStringLiteral("印刷プレビュー")});
        QVERIFY(painted > 0);
        QCOMPARE(printer.pageLayout().pageSize().id(), QPageSize::JisB5);
        QCOMPARE(printer.pageLayout().orientation(), QPageLayout::Landscape);
    }

    // Two answers an item, the first chosen at the start; closing answers nothing.
    void chooseEach_data()
    {
        QTest::addColumn<bool>("close");
        QTest::newRow("second answer for the second item, OK") << false;
        QTest::newRow("closed") << true;
    }
    void chooseEach()
    {
        QFETCH(bool, close);
        QStringList shown;
        ModalWatcher watcher([&](QWidget* w) {
            for (const QRadioButton* r : w->findChildren<QRadioButton*>())
                shown << r->text() + (r->isChecked() ? QStringLiteral("*") : QString());
            if (close) {
                QTest::keyClick(w, Qt::Key_Escape);
                return;
            }
            QTest::mouseClick(w->findChildren<QRadioButton*>().at(3), Qt::LeftButton);
            QTest::mouseClick(w->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
        });
        const auto answers = QtPrompts().chooseEach(nullptr, QStringLiteral("どうしますか？"),
                                                    {QStringLiteral("一つ目"), QStringLiteral("二つ目")},
                                                    QStringLiteral("戻す"), QStringLiteral("破棄"), {});
        QCOMPARE(shown, (QStringList{QStringLiteral("戻す*"), QStringLiteral("破棄"), QStringLiteral("戻す*"),
                                     QStringLiteral("破棄")}));
        QCOMPARE(answers, close ? std::nullopt : std::optional<QList<bool>>(QList<bool>{true, false}));
    }
};

QTEST_MAIN(TestQtPrompts)
#include "tst_qtprompts.moc"
