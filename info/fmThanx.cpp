#include "info/fmThanx.h"

#include "desktop/DesktopFont.h"
#include "desktop/FocusRing.h"
#include "info/InfoLook.h"
#include "settings/StoreKeys.h"
#include "settings/gRegistry.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>

TfrmThanx::TfrmThanx(const QString &key, const QString &valueName, const QString &productName,
                     QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_key(key), m_valueName(valueName)
{
    QVBoxLayout *root = SetUpInfoWindow(this, QStringLiteral("frmThanx"), QSize(452, 224),
                                        QStringLiteral("Welcome"));

    auto *body = new QHBoxLayout;
    body->setContentsMargins(12, 12, 12, 8);
    body->setSpacing(14);
    auto *image = new QLabel(this);
    image->setObjectName(QStringLiteral("Image1"));
    image->setFixedSize(64, 48);
    image->setPixmap(WelcomePicture(devicePixelRatioF()));
    body->addWidget(image, 0, Qt::AlignTop);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(8);
    const QFont small = DesktopFontOf(8.25); // 11 px at 96 dpi
    m_lbl1 = new QLabel(this);
    m_lbl1->setObjectName(QStringLiteral("lbl1"));
    QFont bold = small;
    bold.setBold(true);
    m_lbl1->setFont(bold);
    texts->addWidget(m_lbl1);
    auto *lbl2 = new QLabel(
        QStringLiteral("We encourage You to visit our web site for more VEKOR products,\n"
                       "We, will be happy to answer your questions, or hear your concerns.\n"
                       "\n"
                       "\n"
                       "With regards, VEKOR programmers"),
        this);
    // A single line break joins two lines of one paragraph: the label wraps
    // them as one, instead of leaving the overflow of the first on its own.
    static const QRegularExpression lineInParagraph(QStringLiteral("(?<!\\n)\\n(?!\\n)"));
    lbl2->setText(lbl2->text().replace(lineInParagraph, QStringLiteral(" ")));
    lbl2->setObjectName(QStringLiteral("lbl2"));
    lbl2->setFont(small);
    lbl2->setWordWrap(true);
    texts->addWidget(lbl2);
    texts->addStretch();
    body->addLayout(texts, 1);
    root->addLayout(body, 1);

    QFrame *bottom = MakeBar(this, QStringLiteral("Panel2"));
    m_btnOK = new QPushButton(QStringLiteral("OK"), bottom);
    m_btnOK->setObjectName(QStringLiteral("btnOK"));
    const int buttonHeight = std::max(21, m_btnOK->fontMetrics().height() + 6);
    m_btnOK->setFixedHeight(buttonHeight);
    bottom->setFixedHeight(std::max(bottom->height(), buttonHeight + 4));
    m_btnOK->setDefault(true);
    AddFocusRing(m_btnOK);
    bottom->layout()->addWidget(m_btnOK);
    root->addWidget(bottom);

    connect(m_btnOK, &QPushButton::clicked, this, &QDialog::accept);
    FormCreate(productName);
}

void TfrmThanx::FormCreate(const QString &productName)
{
    setWindowTitle(productName);
    m_lbl1->setText(QStringLiteral("Thank you using ") + productName + u'!');
}

void TfrmThanx::FormClose()
{
    if (m_closed)
        return;
    m_closed = true;
    // Not being able to remember it only means the greeting comes again.
    try {
        WriteRegString(m_key, m_valueName, StoreKeys::SwitchOn);
    } catch (const RegistryError &) {
    }
}

void TfrmThanx::done(int result)
{
    FormClose();
    QDialog::done(result);
}

void TfrmThanx::keyPressEvent(QKeyEvent *event)
{
    // Escape closes on release, not (as QDialog would) on press.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TfrmThanx::keyReleaseEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && !event->isAutoRepeat()) {
        done(QDialog::Accepted);
        return;
    }
    QDialog::keyReleaseEvent(event);
}

void TfrmThanx::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (QScreen *screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
}

bool WelcomeWindowDue(const QString &key, const QString &valueName)
{
    return ReadRegString(key, valueName).isEmpty();
}

int ShowWelcomeWindow(const QString &key, const QString &valueName, const QString &productName,
                      QWidget *parent)
{
    if (!WelcomeWindowDue(key, valueName))
        return 0;
    TfrmThanx window(key, valueName, productName, parent);
    const int result = window.exec();
    QCoreApplication::processEvents();
    return result;
}
