#include "shell/draftjournal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QSaveFile>
#include <QUuid>

#include <algorithm>
#include <fcntl.h>
#include <unistd.h>

namespace zumilo::shell {

namespace {

const QString kLockName = QStringLiteral("running.lock");
const QString kSuffix = QStringLiteral(".draft");
const QString kDamagedFolder = QStringLiteral("damaged");
constexpr int kFormat = 1;
// Far more than a note holds; a larger file is no draft of ours.
constexpr qint64 kLargestDraft = qint64(256) << 20;

// A rename or a removal is on disk only once its folder is.
void syncFolder(const QString& folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

QByteArray encode(const Draft& d)
{
    QJsonArray texts;
    for (const QString& t : d.texts)
        texts.append(t);
    QJsonObject o{
        {QStringLiteral("format"), kFormat},
        {QStringLiteral("slot"), d.slot},
        {QStringLiteral("database"), d.databasePath},
        {QStringLiteral("id"), QString::number(d.noteId)},
        {QStringLiteral("stampDate"), d.stampDate},
        {QStringLiteral("stampTime"), d.stampTime},
        {QStringLiteral("savedAt"), d.savedAt.toString(Qt::ISODateWithMs)},
        {QStringLiteral("texts"), texts},
        {QStringLiteral("checks"), QJsonArray{d.checks[0], d.checks[1]}},
    };
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

std::optional<Draft> decode(const QByteArray& bytes)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();
    const QJsonArray texts = o.value(QStringLiteral("texts")).toArray();
    const QJsonArray checks = o.value(QStringLiteral("checks")).toArray();
    bool idOk = false;
    Draft d;
    d.noteId = o.value(QStringLiteral("id")).toString().toLongLong(&idOk);
    d.savedAt = QDateTime::fromString(o.value(QStringLiteral("savedAt")).toString(), Qt::ISODateWithMs);
    if (o.value(QStringLiteral("format")).toInt() != kFormat || !idOk || !d.savedAt.isValid()
        || texts.size() != int(d.texts.size()) || checks.size() != int(d.checks.size()))
        return std::nullopt;
    for (const QJsonValue t : texts) {
        if (!t.isString())
            return std::nullopt;
    }
    d.slot = o.value(QStringLiteral("slot")).toString();
    d.databasePath = o.value(QStringLiteral("database")).toString();
    d.stampDate = o.value(QStringLiteral("stampDate")).toString();
    d.stampTime = o.value(QStringLiteral("stampTime")).toString();
    for (size_t i = 0; i < d.texts.size(); ++i)
        d.texts[i] = texts.at(qsizetype(i)).toString();
    for (size_t i = 0; i < d.checks.size(); ++i)
        d.checks[i] = checks.at(qsizetype(i)).toBool();
    return d;
}

} // namespace

DraftJournal::DraftJournal(const QString& folder) : folder_(folder)
{
    // Taken here, before anything else could look: a run folder without its
    // lock would pass for one left behind. A lock not taken (a name already
    // in use, a folder not writable) gets a folder of another name.
    QDir().mkpath(folder_);
    for (int attempt = 0; attempt < 3 && !(lock_ && lock_->isLocked()); ++attempt) {
        // Named by the start time and a random part: a process number comes back after a restart.
        const QString run = QStringLiteral("%1-%2")
                                .arg(QDateTime::currentMSecsSinceEpoch())
                                .arg(QUuid::createUuid().toString(QUuid::Id128).left(8));
        runFolder_ = QDir(folder_).filePath(run);
        lock_ = std::make_unique<QLockFile>(QDir(runFolder_).filePath(kLockName));
        if (QDir().mkdir(runFolder_))
            lock_->tryLock(0);
    }
    // One thread, so that the disk sees the writes and removals in order.
    disk_.setMaxThreadCount(1);
    disk_.setExpiryTimeout(-1);
}

DraftJournal::~DraftJournal()
{
    flush();
}

void DraftJournal::flush()
{
    disk_.waitForDone();
}

QString DraftJournal::folderBeside(const QString& settingsFile)
{
    return QDir(QFileInfo(settingsFile).absolutePath()).filePath(QStringLiteral("drafts"));
}

QString DraftJournal::newSlot(const QString& kind)
{
    return kind + QLatin1Char('-') + QString::number(++slots_);
}

void DraftJournal::write(const Draft& draft)
{
    // Drafts in a folder without its lock would be offered to the next
    // start while this run still edits them.
    if (finished_ || draft.slot.isEmpty() || !lock_->isLocked())
        return;
    disk_.start([path = QDir(runFolder_).filePath(draft.slot + kSuffix), bytes = encode(draft), run = runFolder_] {
        QSaveFile file(path);
        // commit() flushes the new file to disk before it takes the old one's name.
        if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
            syncFolder(run);
    });
}

void DraftJournal::remove(const QString& slot)
{
    if (finished_ || slot.isEmpty() || !lock_->isLocked())
        return;
    disk_.start([path = QDir(runFolder_).filePath(slot + kSuffix), run = runFolder_] {
        if (QFile::remove(path))
            syncFolder(run);
    });
}

void DraftJournal::finish()
{
    finished_ = true;
    flush();
    lock_->unlock();
    QDir(runFolder_).removeRecursively();
    syncFolder(folder_);
}

DraftJournal::LeftBehind DraftJournal::leftBehind()
{
    LeftBehind left;
    const QDir root(folder_);
    for (const QFileInfo& run : root.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        if (run.absoluteFilePath() == QFileInfo(runFolder_).absoluteFilePath() || run.fileName() == kDamagedFolder)
            continue;
        // A lock that can be taken was left by a run that is gone.
        auto lock = std::make_unique<QLockFile>(QDir(run.absoluteFilePath()).filePath(kLockName));
        if (!lock->tryLock(0))
            continue;
        const QFileInfoList files =
            QDir(run.absoluteFilePath()).entryInfoList({QLatin1Char('*') + kSuffix}, QDir::Files);
        for (const QFileInfo& f : files) {
            QFile in(f.absoluteFilePath());
            std::optional<Draft> d;
            if (f.size() <= kLargestDraft && in.open(QIODevice::ReadOnly))
                d = decode(in.readAll());
            if (d) {
                d->file = f.absoluteFilePath();
                left.drafts.append(*d);
                continue;
            }
            // Kept for the user to look at, and never offered again.
            const QString aside = root.filePath(kDamagedFolder + QLatin1Char('/') + run.fileName() + QLatin1Char('-')
                                                + f.fileName());
            root.mkpath(kDamagedFolder);
            left.damaged << (QFile::rename(f.absoluteFilePath(), aside) ? aside : f.absoluteFilePath());
        }
        claimed_.push_back(std::move(lock));
    }
    std::stable_sort(left.drafts.begin(), left.drafts.end(),
                     [](const Draft& a, const Draft& b) { return a.savedAt < b.savedAt; });
    // Our own run's folder and the damaged drafts moved aside, on disk
    // without holding up the start.
    disk_.start([folder = folder_] { syncFolder(folder); });
    return left;
}

void DraftJournal::drop(const Draft& draft)
{
    // Behind the writes asked for before: a draft restored is on disk again
    // before the one it came from goes.
    disk_.start([file = draft.file] {
        if (!file.isEmpty() && QFile::remove(file))
            syncFolder(QFileInfo(file).absolutePath());
    });
}

void DraftJournal::release()
{
    auto locks = std::make_shared<std::vector<std::unique_ptr<QLockFile>>>(std::move(claimed_));
    claimed_.clear();
    disk_.start([locks, folder = folder_] {
        for (const auto& lock : *locks) {
            const QDir run = QFileInfo(lock->fileName()).absoluteDir();
            // Unlocking removes the lock: drafts still there are found at the next start.
            lock->unlock();
            if (run.entryList({QLatin1Char('*') + kSuffix}, QDir::Files).isEmpty())
                QDir(run).removeRecursively();
        }
        syncFolder(folder);
    });
}

} // namespace zumilo::shell
