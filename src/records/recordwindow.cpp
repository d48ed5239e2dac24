#include "recordwindow.h"

#include "drafts.h"
#include "editorplaces.h"
#include "notesave.h"
#include "recordeditor.h"

#include "shell/closesteps.h"
#include "shell/appstate.h"
#include "shell/clock.h"
#include "shell/commands.h"
#include "shell/prompts.h"
#include "shell/settingsstore.h"
#include "shell/statuspanels.h"
#include "shell/twips.h"
#include "shell/windowplacement.h"
#include "store/database.h"
#include "store/error.h"
#include "store/recordset.h"
#include "tree/categorypicker.h"

#include <QCheckBox>
#include <QToolBar>
#include <QSizeF>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QToolButton>

#include <algorithm>
#include <array>

using zumilo::shell::pixelsToTwips;
using zumilo::store::ErrorKind;
using zumilo::store::StepResult;
using zumilo::store::StoreError;
using zumilo::store::tryStep;

namespace zumilo::records {

namespace {

const QString kGone = QStringLiteral("このデータは削除されています");

QString textName(int i)
{
    return QStringLiteral("Text1(%1)").arg(i);
}

} // namespace

store::NoteView categoryNotes(qint64 category, int sortColumn, int sortOrder)
{
    store::NoteView v;
    v.notes = store::NoteView::Notes::Category;
    v.number = category;
    v.descending = sortOrder == 1;
    static const QStringList fields[] = {{QStringLiteral("title")},
                                         {QStringLiteral("kijitudate")},
                                         {QStringLiteral("kousinDate"), QStringLiteral("kousintime")},
                                         {QStringLiteral("sinkiDate")},
                                         {QStringLiteral("ID")}};
    if (sortColumn >= 0 && sortColumn < int(std::size(fields)))
        v.sortFields = fields[sortColumn];
    return v;
}

RecordWindow* RecordWindow::open(shell::AppState& state, const shell::OpenRequest& request)
{
    ++state.SingleWindowCount;
    auto* window = new RecordWindow(state);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->Form_Load(request);
    window->show();
    // Without a window manager nothing else gives a new window the keyboard,
    // and what the user types next would go to the window behind it.
    window->activateWindow();
    return window;
}

RecordWindow::RecordWindow(shell::AppState& state, QWidget* parent) : QMainWindow(parent), st_(state)
{
    setObjectName(QStringLiteral("Form2"));
    const shell::MenuHandlers handlers{
        {QStringLiteral("mnuAddNew"), [this] { mnuAddNew_Click(); }},
        {QStringLiteral("mnuUpdate"), [this] { mnuUpdate_Click(); }},
        {QStringLiteral("mnuUpdateAs"), [this] { mnuUpdateAs_Click(); }},
        {QStringLiteral("mnuEnd"), [this] { mnuEnd_Click(); }},
        {QStringLiteral("mnuMoveFirst"), [this] { mnuMoveFirst_Click(); }},
        {QStringLiteral("mnuMoveMae"), [this] { mnuMoveMae_Click(); }},
        {QStringLiteral("mnuMoveNext"), [this] { mnuMoveNext_Click(); }},
        {QStringLiteral("mnuMoveLast"), [this] { mnuMoveLast_Click(); }},
    };
    canvas_ = new QWidget(this);
    canvas_->setObjectName(QStringLiteral("canvas"));
    setCentralWidget(canvas_);
    const shell::CommandSet commands = shell::buildCommands(this, shell::WindowKind::Single, canvas_, handlers,
                                                            st_.commands);
    actions_ = commands.actions;
    toolBar_ = commands.toolBar;
    searchBox_ = commands.searchBox;

    statusBar()->setObjectName(QStringLiteral("StatusBar1"));
    panels_ = std::make_unique<shell::StatusPanels>(statusBar());
    editor_ = std::make_unique<RecordEditor>(EditorKind::Single, canvas_, panels_.get(), st_);
    picker_ = std::make_unique<tree::CategoryPicker>(
        canvas_, *editor_, [this] { return WindowDatabase.get(); }, [this] { return st_.DatabaseFileName; });
    drafts_ = std::make_unique<DraftKeeper>(*editor_, st_, this, QStringLiteral("single"), [this] {
        return DraftNote{windowPath_, NewRecordMode ? 0 : editor_->stamps().id.toLongLong()};
    });
    buildLayout();

    // Smaller than this the fields no longer fit; the window stops there.
    shell::fitMinimumSize(this, layout_.rightEdge(RecordEditor::fixedControlNames()), bodyTop_ + 900, {4200, 3500});
    connect(editor_->titleBox(), &QPlainTextEdit::textChanged, this, &RecordWindow::updateCaption);
    connect(editor_.get(), &RecordEditor::cleared, this, [this] {
        restoredDraft_ = false;
        updateCaption();
    });
    updateCaption();
    if (st_.commands)
        st_.commands->attach(*this);
}

QList<qint64> RecordWindow::shownNotes() const
{
    qint64 id = 0;
    bool current = false;
    const StepResult read = tryStep([&] {
        current = WindowRecordset && WindowRecordset->hasCurrent();
        if (current)
            id = WindowRecordset->value(QStringLiteral("ID")).toLongLong();
    });
    if (!read || !current)
        return {}; // the window itself says why it shows no note
    return {id};
}

RecordWindow::~RecordWindow()
{
    // Torn down without closing (the program ending): still hand back.
    if (loaded_ && !unloaded_)
        Form_Unload();
}

void RecordWindow::buildLayout()
{
    static const QList<EditorPlace> places = {
        {"Label1(0)", 120, 425, 615, 220},      {"Text1(3)", 720, 400, 1575, 270},  {"cmdBunOpen", 2280, 420, 300, 250},
        {"Check1(0)", 2880, 430, 660, 220},     {"Check1(1)", 3720, 430, 660, 220}, {"Text1(4)", 4380, 400, 1100, 270},
        {"cmdCalOpen(0)", 5475, 420, 300, 250}, {"Label1(4)", 6120, 450, 360, 225}, {"Text1(5)", 6480, 400, 1100, 270},
        {"cmdCalOpen(1)", 7575, 420, 300, 250}, {"Text1(6)", 7875, 400, 855, 270},  {"Text1(7)", 1560, 720, 735, 270},
        {"Label1(1)", 100, 700, 615, 255},      {"Text1(0)", 720, 700, 8535, 780},  {"Label1(2)", 100, 1250, 615, 255},
        {"Text1(1)", 0, 1500, 4455, 4095},      {"Text1(2)", 0, 1500, 4695, 4095},
    };
    layout_.add(QStringLiteral("Toolbar1"), toolBar_, {0, 0, 5850, shell::kToolBarHeight});
    bodyTop_ = 1500 + placeEditor(layout_, *editor_, places);
    layout_.apply();
}

// --- life of the window ----------------------------------------------------------

void RecordWindow::Form_Load(const shell::OpenRequest& request)
{
    const shell::SettingsStore& settings = st_.settings();
    const QString& section = shell::Settings::F2Position;
    shell::TwipsGeometry place{settings.readNumber(section, QStringLiteral("Left"), 0),
                               settings.readNumber(section, QStringLiteral("Top"), 0),
                               settings.readNumber(section, QStringLiteral("Width"), 5850),
                               settings.readNumber(section, QStringLiteral("Height"), 4740)};
    if (st_.SingleWindowCount > 1) {
        place.top += (st_.SingleWindowCount - 1) * 300.0;
        place.left += (st_.SingleWindowCount - 1) * 400.0;
    }
    shell::setWindowTwips(this, place);

    applyWrapSetting();
    WindowCategoryName = st_.CurrentBunName;
    WindowView = categoryNotes(st_.CurrentBunID.toLongLong(), st_.LastSortColumn, st_.LastSortOrder);
    windowPath_ = st_.DatabasePath;
    try {
        WindowDatabase = store::Database::open(st_.DatabasePath);
        WindowDatabase->setTodayProvider([this] { return st_.clock().today(); });
        WindowRecordset = WindowDatabase->openView(WindowView, store::RecordsetType::Dynaset);
    } catch (const StoreError& e) {
        // The window stays empty; panel 1 and any save say why.
        loadError_ = store::failureCause(e, windowPath_);
        shell::showFailure(st_.prompts(), this, shell::kNoteUnread, windowPath_, e);
    }

    FieldsClear();
    NewRecordMode = !request.note;
    if (NewRecordMode) {
        DataAdd();
    } else if (WindowRecordset) {
        store::Recordset& rs = *WindowRecordset;
        bool found = false;
        const StepResult read = tryStep([&] {
            rs.moveLast();
            rs.moveFirst();
            found = rs.findFirst(QStringLiteral("id= ") + QString::number(*request.note));
        });
        if (!found) {
            // Deleted meanwhile, or not readable: stand on no row at all, so
            // that nothing else can be saved over; what is typed can go into
            // a copy.
            tryStep([&] {
                rs.moveFirst();
                rs.movePrevious();
            }).ignoreFailure("saves check noteGone_ and readFailure_ first");
        }
        if (read) {
            tellReadFailure(showCurrent());
        } else {
            FieldsClear();
            markUnread(*read.error());
            tellReadFailure(read);
        }
        if (noteGone_)
            fillCategory();
    }
    if (WindowRecordset) {
        if (readFailure_)
            markUnread(*readFailure_);
        else if (noteGone_)
            markGone();
        else
            showCount();
    } else {
        panels_->setText(1, loadError_);
    }
    loaded_ = true;
    Form_Resize();
    // The tool bar's search box comes first among the window's controls;
    // what the user types into a note window belongs in the note.
    editor_->titleBox()->setFocus();
}

void RecordWindow::applyWrapSetting()
{
    ApplyWordWrapSetting(*this);
}

void RecordWindow::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && loaded_ && isActiveWindow())
        Form_Activate();
}

void RecordWindow::Form_Activate()
{
    applyScreenFont(*this, 10);
}

void RecordWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    Form_Resize();
}

void RecordWindow::updateCaption()
{
    QString title = editor_->text(0);
    title.replace(QLatin1Char('\n'), QLatin1Char(' '));
    title.replace(QLatin1String("[*]"), QLatin1String("[*][*]")); // shown as typed, not as Qt's marker
    setWindowTitle((restoredDraft_ ? QStringLiteral("（復元した下書き）") : QString()) + title + QStringLiteral("  「")
                   + WindowCategoryName + QStringLiteral("」 - Zumilo"));
}

void RecordWindow::showRestoredDraft(const NoteFields& fields)
{
    editor_->restore(fields);
    restoredDraft_ = true;
    updateCaption();
}

void RecordWindow::Form_Resize()
{
    updateCaption();
    if (isMinimized())
        return;
    const double S = pixelsToTwips(statusBar()->isVisible() ? statusBar()->height() : 0);
    const double W = pixelsToTwips(canvas_->width());
    const double H = pixelsToTwips(canvas_->height()) + S;
    shell::TwipsLayout& L = layout_;
    for (int i : {1, 2}) {
        L[textName(i)].height = H - bodyTop_ - S;
        L[textName(i)].width = W;
    }
    L[textName(0)].width = W - L[textName(0)].left;
    L[QStringLiteral("Toolbar1")].width = W;
    L.apply();
}

bool RecordWindow::Form_QueryUnload()
{
    shell::saveWindowPlacement(this, st_.settings(), shell::Settings::F2Position);
    return !recordChanged() || CheckToSave() || closeWithoutSaving(st_.prompts(), this, false);
}

void RecordWindow::Form_Unload()
{
    unloaded_ = true;
    // A new note still pending goes with the recordset.
    tryStep([&] { WindowRecordset.reset(); }).ignoreFailure("the window is going: nothing reads it again");
    tryStep([&] {
        if (WindowDatabase)
            WindowDatabase->close();
        WindowDatabase.reset();
    }).ignoreFailure("the window is going: nothing reads it again");
    NewRecordMode = false;
    editor_->setRecordChanged(false);
    bool shown = false;
    const qint64 id = editor_->stamps().id.toLongLong(&shown);
    st_.SingleWindowCount = std::max(0, st_.SingleWindowCount - 1);
    emit returned({shown ? std::optional<qint64>(id) : std::nullopt});
}

void RecordWindow::closeEvent(QCloseEvent* event)
{
    shell::runCloseSteps(
        event, unloaded_, [this] { return Form_QueryUnload(); }, [this] { Form_Unload(); });
}

void RecordWindow::mnuEnd_Click()
{
    close();
}

// --- the note ---------------------------------------------------------------------

bool RecordWindow::recordChanged() const
{
    return editor_->RecordChanged();
}

void RecordWindow::FieldsClear()
{
    editor_->FieldsClear();
}

void RecordWindow::UpdateFields()
{
    const StepResult read = tryStep([&] {
        if (WindowRecordset && WindowRecordset->hasCurrent())
            editor_->UpdateFields(*WindowRecordset);
    });
    if (!read) {
        FieldsClear();
        markUnread(*read.error());
        tellReadFailure(read);
    }
}

void RecordWindow::fillCategory()
{
    editor_->setText(7, st_.CurrentBunID);
    if (!st_.CurrentBunName.isEmpty())
        editor_->setText(3, st_.CurrentBunName);
}

StepResult RecordWindow::showCurrent()
{
    bool current = false;
    const StepResult read = tryStep([&] {
        current = WindowRecordset && WindowRecordset->hasCurrent();
        if (current)
            editor_->UpdateFields(*WindowRecordset);
    });
    if (read && current) {
        noteGone_ = false;
        readFailure_.reset();
        showCount();
        return read;
    }
    FieldsClear();
    if (read)
        markGone();
    else
        markUnread(*read.error());
    return read;
}

void RecordWindow::markUnread(const StoreError& e)
{
    readFailure_ = e;
    panels_->setText(1, shell::kNoteUnread);
}

void RecordWindow::tellReadFailure(const StepResult& read)
{
    if (!read)
        shell::showFailure(st_.prompts(), this, shell::kNoteUnread, windowPath_, *read.error());
}

void RecordWindow::showCount()
{
    if (WindowRecordset)
        panels_->setText(1, shell::statusCountText(WindowRecordset->absolutePosition() + 1,
                                                   WindowRecordset->recordCount()));
}

void RecordWindow::markGone()
{
    noteGone_ = true;
    panels_->setText(1, kGone);
}

void RecordWindow::DataAdd()
{
    NewRecordMode = true;
    noteGone_ = false;
    if (WindowRecordset) {
        tryStep([&] {
            WindowRecordset->addNew();
        }).ignoreFailure("a new note is written by the one save, not through this row");
    }
    FieldsClear();
    fillCategory();
}

bool RecordWindow::connected()
{
    if (WindowRecordset && WindowDatabase)
        return true;
    SaveOutcome failed;
    failed.error = loadError_.isEmpty() ? store::japaneseMessage(ErrorKind::CannotOpen) : loadError_;
    reportSave(st_.prompts(), this, *panels_, failed);
    return false;
}

bool RecordWindow::save(SaveMode mode)
{
    if (!connected())
        return false;
    qint64 id = 0;
    if (mode == SaveMode::Update) {
        // Never write into whatever row happens to be current instead.
        bool current = false;
        const StepResult read = readFailure_ ? StepResult(*readFailure_) : tryStep([&] {
            current = !noteGone_ && WindowRecordset->hasCurrent();
            if (current)
                id = WindowRecordset->value(QStringLiteral("ID")).toLongLong();
        });
        if (!read) {
            SaveOutcome unread;
            unread.error = store::failureCause(*read.error(), windowPath_);
            unread.errorKind = read.error()->kind();
            return reportSave(st_.prompts(), this, *panels_, unread);
        }
        if (!current) {
            SaveOutcome gone;
            gone.error = store::japaneseMessage(ErrorKind::RowDeleted);
            gone.errorKind = ErrorKind::RowDeleted;
            markGone();
            return reportSave(st_.prompts(), this, *panels_, gone, true);
        }
    }
    const SaveOutcome outcome = saveNote(*WindowDatabase, editor_->snapshot(), st_.clock(), mode, id);
    if (outcome.stored) {
        // The window goes on with the note stored: a new note or a copy takes
        // its place among the notes walked, and the note a copy came from
        // stays as stored, so that a later save does not land on it.
        emit noteSaved(outcome.id);
        NewRecordMode = false;
        noteGone_ = false;
        readFailure_.reset();
        const StepResult reread = tryStep([&] {
            WindowRecordset->requery();
            WindowRecordset->findFirst(QStringLiteral("id= ") + QString::number(outcome.id));
            if (WindowRecordset->hasCurrent())
                editor_->UpdateFields(*WindowRecordset, outcome.failures);
        });
        if (!reread) {
            // Stored, but the window no longer knows where it stands: a
            // later save must not land on another note.
            const bool told = reportSave(st_.prompts(), this, *panels_, outcome, true);
            markUnread(*reread.error());
            tellReadFailure(reread);
            return told;
        }
        showCount();
    } else if (outcome.noteGone()) {
        markGone();
    }
    return reportSave(st_.prompts(), this, *panels_, outcome, true);
}

bool RecordWindow::UpdateRecordSet()
{
    return save(NewRecordMode ? SaveMode::New : SaveMode::Update);
}

bool RecordWindow::CheckToSave()
{
    return !askToSave(st_.prompts(), this) || UpdateRecordSet();
}

// --- commands ---------------------------------------------------------------------

void RecordWindow::mnuAddNew_Click()
{
    // A click on "new" should not throw edits away unasked.
    if (recordChanged() && !CheckToSave())
        return;
    DataAdd();
    editor_->titleBox()->setFocus();
}

void RecordWindow::mnuUpdate_Click()
{
    UpdateRecordSet();
}

void RecordWindow::mnuUpdateAs_Click()
{
    save(SaveMode::Copy);
}

void RecordWindow::move(void (*step)(store::Recordset&))
{
    if (!WindowRecordset || WindowRecordset->recordCount() == 0)
        return;
    if (recordChanged() && !CheckToSave())
        return;
    // Leaving gives up a pending new note; the window then edits the note
    // it shows, so a later save is not lost.
    NewRecordMode = false;
    const StepResult moved = tryStep([&] { step(*WindowRecordset); });
    const StepResult shown = showCurrent();
    tellReadFailure(moved ? shown : moved);
    Form_Resize();
}

void RecordWindow::mnuMoveFirst_Click()
{
    move([](store::Recordset& rs) { rs.moveFirst(); });
}

void RecordWindow::mnuMoveLast_Click()
{
    move([](store::Recordset& rs) { rs.moveLast(); });
}

void RecordWindow::mnuMoveMae_Click()
{
    move([](store::Recordset& rs) {
        rs.movePrevious();
        if (rs.isBOF())
            rs.moveFirst();
    });
}

void RecordWindow::mnuMoveNext_Click()
{
    move([](store::Recordset& rs) {
        rs.moveNext();
        if (rs.isEOF())
            rs.moveLast();
    });
}

} // namespace zumilo::records
