#include "aboutbox.h"

#include "shell/appstate.h"
#include "shell/commands.h"
#include "shell/desktop.h"
#include "shell/prompts.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>

namespace zumilo::app {

AboutBox::AboutBox(shell::AppState& state, QWidget* parent) : QDialog(parent), st_(state)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報"));

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("picIcon"));
    icon->setPixmap(shell::programIcon().pixmap(64, 64));
    auto* title = new QLabel(QStringLiteral("Zumilo"), this);
    title->setObjectName(QStringLiteral("lblTitle"));
    QFont big = title->font();
    big.setPointSizeF(big.pointSizeF() * 1.8);
    big.setBold(true);
    title->setFont(big);
    auto* version = new QLabel(versionLine(), this);
    version->setObjectName(QStringLiteral("lblVersion"));
    // Broken by hand: a wrapping label would break inside a word.
    auto* about = new QLabel(QStringLiteral("日本語のメモを分類して保存し、\nすぐに探せるデータベースです。"), this);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("cmdOK"));
    ok->setDefault(true);
    auto* sysInfo = new QPushButton(QStringLiteral("ｼｽﾃﾑ情報(&S)..."), this);
    sysInfo->setObjectName(QStringLiteral("cmdSysInfo"));
    // Return stays with OK after the button has been used (and kept the focus).
    sysInfo->setAutoDefault(false);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(sysInfo, &QPushButton::clicked, this, &AboutBox::StartSysInfo);

    auto* texts = new QVBoxLayout;
    texts->addWidget(title);
    texts->addWidget(version);
    texts->addSpacing(8);
    texts->addWidget(about);
    texts->addStretch(1);
    auto* top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addSpacing(12);
    top->addLayout(texts, 1);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(ok);
    buttons->addWidget(sysInfo);
    buttons->addStretch(1);
    top->addLayout(buttons);
    top->setSizeConstraint(QLayout::SetFixedSize);
    setLayout(top);
}

QString AboutBox::versionLine()
{
    return QStringLiteral("Version %1.%2.%3")
        .arg(ZUMILO_VERSION_MAJOR)
        .arg(ZUMILO_VERSION_MINOR)
        .arg(ZUMILO_VERSION_PATCH);
}

QStringList AboutBox::systemInformationPrograms()
{
    return {QStringLiteral("hardinfo2"),
            QStringLiteral("hardinfo"),
            QStringLiteral("kinfocenter"),
            QStringLiteral("gnome-system-monitor"),
            QStringLiteral("mate-system-monitor"),
            QStringLiteral("xfce4-taskmanager"),
            QStringLiteral("lxtask")};
}

void AboutBox::StartSysInfo()
{
    for (const QString& name : systemInformationPrograms()) {
        const QString path = QStandardPaths::findExecutable(name);
        if (!path.isEmpty() && st_.desktop().start(path))
            return;
    }
    st_.prompts().message(this, QStringLiteral("現時点ではｼｽﾃﾑ情報を使用できません"));
}

void showAboutBox(shell::AppState& state, QWidget* parent)
{
    AboutBox box(state, parent);
    state.prompts().dialog(box);
}

QString homePagePath(const QString& programFolder)
{
    const QDir folder(programFolder);
    const QString beside = folder.filePath(QStringLiteral("zumilo.html"));
    if (QFileInfo::exists(beside))
        return beside;
    return QDir::cleanPath(folder.filePath(QStringLiteral("../share/zumilo/zumilo.html")));
}

} // namespace zumilo::app
