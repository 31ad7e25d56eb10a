#include "aboutdialog.h"

#include <QDebug>
#include <QDesktopServices>
#include <QEvent>
#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace {
const char* const vendorUrl = "https://www.example.com";
}

AboutDialog::AboutDialog(QWidget* parent)
    : QDialog(parent)
{
    setFixedSize(350, 400);
    setWindowTitle(tr("About"));

    pictureLabel = new QLabel(this);
    pictureLabel->setObjectName(QStringLiteral("pictureLabel"));
    pictureLabel->setAlignment(Qt::AlignHCenter);
    QPixmap logo(QStringLiteral(":/res/logo128x128.png"));
    if (!logo.isNull()) {
        const QPixmap scaled = logo.scaled(64, 64, Qt::KeepAspectRatio, Qt::FastTransformation);
        pictureLabel->setGeometry(0, 0, scaled.width(), scaled.height());
        pictureLabel->setPixmap(scaled);
    }

    QFont headFont;
    headFont.setPointSize(10);
    headFont.setBold(true);

    labelVer = new QLabel(QStringLiteral("KD-VX350 Software V1.0.0"), this);
    labelVer->setObjectName(QStringLiteral("labelVer"));
    labelVer->setFont(headFont);

    urlLabel = new QLabel(this);
    urlLabel->setObjectName(QStringLiteral("urlLabel"));
    urlLabel->setText(
        QStringLiteral("<a style='text-decoration: underline; color: #FFFFFF;'; href=' '>%1</a>").arg(vendorUrl));
    // The anchor's own target is a blank: the vendor's address is always what opens.
    connect(urlLabel, &QLabel::linkActivated, this, [](const QString&) {
        if (!QDesktopServices::openUrl(QUrl(QString::fromLatin1(vendorUrl), QUrl::TolerantMode)))
            qDebug() << "open url false";
    });

    auto* verWidget = new QWidget(this);
    auto* verLayout = new QVBoxLayout(verWidget);
    verLayout->addWidget(labelVer);
    verLayout->addWidget(urlLabel);
    verLayout->setContentsMargins(9, 0, 9, 0);

    auto* headWidget = new QWidget(this);
    auto* headLayout = new QHBoxLayout(headWidget);
    headLayout->addWidget(pictureLabel);
    headLayout->addWidget(verWidget);
    headLayout->addStretch(0);
    headLayout->setContentsMargins(5, 9, 9, 9);

    labelLog = new QLabel(tr("Update LOG"), this);
    labelLog->setObjectName(QStringLiteral("labelLog"));
    labelLog->setFont(headFont);
    browser = new QTextBrowser(this);
    browser->setObjectName(QStringLiteral("browser"));

    auto* mainLayout = new QVBoxLayout(this);
    mainLayout->addWidget(headWidget);
    mainLayout->addWidget(labelLog);
    mainLayout->addWidget(browser);

    showUpdateInfo();
}

void AboutDialog::showUpdateInfo()
{
    browser->append(QStringLiteral("[2023-03-23] V1.0.0 "));
    browser->append(tr("  The first version."));
}

void AboutDialog::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() != QEvent::LanguageChange)
        return;
    // The title and the version line keep the language the box was built in.
    if (labelLog)
        labelLog->setText(tr("Update LOG"));
    if (browser) {
        browser->clear();
        showUpdateInfo();
    }
}
