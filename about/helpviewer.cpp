#include "about/helpviewer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QPushButton>
#include <QShortcut>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace help {

QStringList defaultFolders()
{
    const QString program = QCoreApplication::applicationDirPath();
    return {QDir::currentPath(), program, QDir::cleanPath(program + QStringLiteral("/" CORVANE_DATA_FROM_PROGRAM))};
}

QString findFile(const QString &name, const QStringList &folders)
{
    for (const QString &folder : folders) {
        const QFileInfo candidate(QDir(folder), name);
        if (candidate.isFile())
            return candidate.absoluteFilePath();
    }
    return {};
}

} // namespace help

HelpViewer::HelpViewer(QWidget *owner)
    : QWidget(owner, Qt::Window)
    , m_browser(new QTextBrowser(this))
{
    setObjectName(QStringLiteral("helpViewer"));
    setWindowTitle(tr("Corvane Help"));
    // Closing the viewer only hides it, and it never keeps the program running on its own.
    setAttribute(Qt::WA_QuitOnClose, false);
    resize(620, 560);

    m_browser->setObjectName(QStringLiteral("helpText"));
    m_browser->setOpenExternalLinks(false);

    auto *back = new QPushButton(tr("&Back"), this);
    back->setObjectName(QStringLiteral("helpBack"));
    back->setEnabled(false);
    connect(m_browser, &QTextBrowser::backwardAvailable, back, &QPushButton::setEnabled);
    connect(back, &QPushButton::clicked, m_browser, &QTextBrowser::backward);
    m_contents = new QPushButton(tr("&Contents"), this);
    m_contents->setObjectName(QStringLiteral("helpContents"));
    connect(m_contents, &QPushButton::clicked, this, &HelpViewer::goToContents);
    auto *close = new QPushButton(tr("Close"), this);
    connect(close, &QPushButton::clicked, this, &QWidget::close);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(back);
    buttons->addWidget(m_contents);
    buttons->addStretch();
    buttons->addWidget(close);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(m_browser);

    // F1 inside the viewer leads back to the contents, as it opened them from the main window.
    connect(new QShortcut(QKeySequence(Qt::Key_F1), this), &QShortcut::activated, this, &HelpViewer::goToContents);
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this, &QWidget::close);
}

void HelpViewer::openFile(const QString &name, const QStringList &folders, bool contents)
{
    m_path.clear();
    const QString path = help::findFile(name, folders);
    if (path.isEmpty()) {
        QString where;
        for (const QString &folder : folders)
            where += QStringLiteral("<li>%1</li>").arg(QDir::toNativeSeparators(folder).toHtmlEscaped());
        showReport(tr("<h2>Help file not found</h2>"
                      "<p>The help file <b>%1</b> was not found. These folders were searched, in this order:</p>"
                      "<ul>%2</ul>"
                      "<p>Place the file in one of them and choose Help, Contents again.</p>")
                       .arg(name.toHtmlEscaped(), where));
        return;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        showReport(tr("<h2>Help file cannot be read</h2><p>The help file <b>%1</b> could not be read: %2.</p>")
                       .arg(QDir::toNativeSeparators(path).toHtmlEscaped(), file.errorString().toHtmlEscaped()));
        return;
    }
    // The file is read afresh on every request, so an edited or replaced file shows at once.
    m_browser->document()->setBaseUrl(QUrl::fromLocalFile(path));
    m_browser->setHtml(QString::fromUtf8(file.readAll()));
    m_browser->clearHistory();
    m_path = path;
    m_contents->setEnabled(true);
    setWindowTitle(m_browser->documentTitle().isEmpty() ? tr("Corvane Help") : m_browser->documentTitle());
    if (contents)
        goToContents();
}

void HelpViewer::showReport(const QString &html)
{
    m_contents->setEnabled(false);
    m_browser->document()->setBaseUrl(QUrl());
    m_browser->setHtml(html);
    m_browser->clearHistory();
    setWindowTitle(tr("Corvane Help"));
}

void HelpViewer::goToContents()
{
    if (!m_path.isEmpty())
        m_browser->scrollToAnchor(QStringLiteral("contents"));
}
