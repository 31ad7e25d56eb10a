#include "checkboxdelegate_paint.h"
#include "colorbuttondelegate_paint.h"
#include "lminputdialog.h"
#include "lmwaitdialog.h"
#include "modalresponder.h"

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSlider>
#include <QStandardItemModel>
#include <QStyleOptionButton>
#include <QTableView>
#include <QTimer>
#include <QTranslator>
#include <QtTest>

namespace {

QPushButton* buttonWithText(QWidget* dialog, const QString& text)
{
    for (auto* b : dialog->findChildren<QPushButton*>())
        if (b->text() == text)
            return b;
    return nullptr;
}

void typeInto(QAbstractSpinBox* box, const QString& text)
{
    auto* edit = box ? box->findChild<QLineEdit*>() : nullptr;
    if (!edit)
        return;
    edit->selectAll();
    QTest::keyClicks(edit, text);
}

// Ends a dialog through its own buttons; falls back to reject() so a missing
// button fails the test's comparisons instead of hanging it.
void press(QWidget* dialog, const QString& text)
{
    if (auto* b = buttonWithText(dialog, text))
        QTest::mouseClick(b, Qt::LeftButton);
    else
        static_cast<QDialog*>(dialog)->reject();
}

// What getTrigData showed: combo, slider and voltage label, time field.
struct TrigView
{
    QString title;
    QStringList items;
    int prot = -1, pos = -1, max = -1, time = -1;
    QString volt;
    QStringList labels;
};

TrigView readTrig(QWidget* dialog)
{
    TrigView v;
    v.title = dialog->windowTitle();
    if (auto* combo = dialog->findChild<QComboBox*>()) {
        for (int i = 0; i < combo->count(); ++i)
            v.items << combo->itemText(i);
        v.prot = combo->currentIndex();
    }
    if (auto* slider = dialog->findChild<QSlider*>()) {
        v.pos = slider->value();
        v.max = slider->minimum() == 0 ? slider->maximum() : -1;
    }
    if (auto* spin = dialog->findChild<QSpinBox*>())
        v.time = spin->value();
    for (auto* label : dialog->findChildren<QLabel*>()) {
        if (QRegularExpression(QStringLiteral("^\\d\\d\\.\\d\\dV$")).match(label->text()).hasMatch())
            v.volt = label->text();
        else
            v.labels << label->text();
    }
    return v;
}

// Answers every modal dialog that appears while it lives; counts them.
class ModalWatcher
{
public:
    explicit ModalWatcher(std::function<void(QWidget*)> act)
    {
        QObject::connect(&timer, &QTimer::timeout, [this, act]() {
            if (QWidget* w = QApplication::activeModalWidget()) {
                ++count;
                act(w);
            }
        });
        timer.start(10);
    }
    int count = 0;

private:
    QTimer timer;
};

QRect expectedBox(const QRect& cell, int growth)
{
    const QStyleOptionButton o;
    const QSize s
        = QApplication::style()->subElementRect(QStyle::SE_CheckBoxIndicator, &o).size() + QSize(growth, growth);
    return QRect(cell.x() + cell.width() / 2 - s.width() / 2, cell.y() + cell.height() / 2 - s.height() / 2, s.width(),
        s.height());
}

// A recording table as the curves page builds it: colour column 1, Record and
// Display check boxes in columns 2 and 3.
struct Table
{
    Table()
        : model(4, 4)
    {
        view.setModel(&model);
        record = new CheckBoxDelegate_Paint(4, &view);
        display = new CheckBoxDelegate_Paint(4, &view);
        color = new ColorButtonDelegate_Paint(&view);
        view.setItemDelegateForColumn(1, color);
        view.setItemDelegateForColumn(2, record);
        view.setItemDelegateForColumn(3, display);
        for (int r = 0; r < 4; ++r) {
            model.setData(model.index(r, 1), QColor(Qt::red));
            model.setData(model.index(r, 2), false);
            model.setData(model.index(r, 3), true);
        }
        for (int c = 0; c < 4; ++c)
            view.setColumnWidth(c, 100);
        view.resize(520, 220);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
    }
    QRect box(int row, int column, int growth = 4) const
    {
        return expectedBox(view.visualRect(model.index(row, column)), growth);
    }
    QTableView view;
    QStandardItemModel model;
    CheckBoxDelegate_Paint* record;
    CheckBoxDelegate_Paint* display;
    ColorButtonDelegate_Paint* color;
};

enum Gesture
{
    Click,
    DoubleClick,
    RightClick,
    PressInReleaseOut,
    PressOutReleaseIn
};

void perform(QWidget* vp, Gesture g, const QRect& box)
{
    const QPoint in = box.center();
    const QPoint out(box.right() + 10, box.center().y()); // same cell, beside the box
    switch (g) {
    case Click:
        QTest::mouseClick(vp, Qt::LeftButton, {}, in);
        break;
    case DoubleClick: // the platform's order of events
        QTest::mousePress(vp, Qt::LeftButton, {}, in);
        QTest::mouseRelease(vp, Qt::LeftButton, {}, in);
        QTest::mouseDClick(vp, Qt::LeftButton, {}, in);
        QTest::mouseRelease(vp, Qt::LeftButton, {}, in);
        break;
    case RightClick:
        QTest::mouseClick(vp, Qt::RightButton, {}, in);
        break;
    case PressInReleaseOut:
        QTest::mousePress(vp, Qt::LeftButton, {}, in);
        QTest::mouseRelease(vp, Qt::LeftButton, {}, out);
        break;
    case PressOutReleaseIn:
        QTest::mousePress(vp, Qt::LeftButton, {}, out);
        QTest::mouseRelease(vp, Qt::LeftButton, {}, in);
        break;
    }
}

struct Tally
{
    int green = 0, blue = 0, grey = 0, dark = 0, total = 0;
};

Tally tally(const QImage& img, const QRect& r)
{
    Tally t;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) {
            const QColor c = img.pixelColor(x, y);
            const int lo = qMin(c.red(), qMin(c.green(), c.blue()));
            const int hi = qMax(c.red(), qMax(c.green(), c.blue()));
            ++t.total;
            t.green += c.green() > c.red() + 40 && c.green() > c.blue() + 20;
            t.blue += c.blue() > c.red() + 25 && c.blue() >= c.green();
            t.grey += hi - lo <= 12 && hi < 250;
            t.dark += hi < 130;
        }
    return t;
}

// The style shades a raised button, so its face keeps the hue, not the exact colour.
bool sameHue(const QColor& seen, const QColor& want)
{
    return qAbs(seen.hue() - want.hue()) <= 6 && seen.saturation() > want.saturation() / 2;
}

QString outputPath(const QString& name)
{
    return qEnvironmentVariable("KD_TEST_OUTPUT", QDir::currentPath()) + QLatin1Char('/') + name;
}

} // namespace

Q_DECLARE_METATYPE(Gesture)

class TstWidgets : public QObject
{
    Q_OBJECT
private slots:
    void getDoubleCancelReturnsInput_data();
    void getDoubleCancelReturnsInput();
    void getDoubleOk_data();
    void getDoubleOk();
    void getTrigDataOpens_data();
    void getTrigDataOpens();
    void getTrigDataProtocolChange_data();
    void getTrigDataProtocolChange();
    void getTrigDataSliderStep_data();
    void getTrigDataSliderStep();
    void getTrigDataCancelKeepsEdits();
    void inputDialogsSurviveParentDeletion();
    void inputDialogsGerman();
    void inputDialogScreenshots();
    void waitDialog();
    void checkBoxGestures_data();
    void checkBoxGestures();
    void checkBoxLostRelease();
    void checkBoxBoxGeometry_data();
    void checkBoxBoxGeometry();
    void checkBoxImages();
    void checkBoxRowsAndOtherEvents();
    void colorButton();
    void colorButtonTableDeletedWhileDialogOpen();
};

void TstWidgets::getDoubleCancelReturnsInput_data()
{
    QTest::addColumn<int>("how");
    QTest::newRow("Cancel") << 0;
    QTest::newRow("Escape") << 1;
    QTest::newRow("title-bar close") << 2;
}

void TstWidgets::getDoubleCancelReturnsInput()
{
    QFETCH(int, how);
    const ALARM_PARAM_T in { 24.0, true };
    answerNextModal([how](QWidget* d) {
        typeInto(d->findChild<QDoubleSpinBox*>(), QStringLiteral("3.5"));
        if (auto* check = d->findChild<QCheckBox*>())
            QTest::mouseClick(check, Qt::LeftButton);
        if (how == 0)
            press(d, QStringLiteral("Cancel"));
        else if (how == 1)
            QTest::keyClick(d, Qt::Key_Escape);
        else
            d->close();
    });
    bool ok = false;
    const ALARM_PARAM_T out = LMInputDialog::getDouble(nullptr, "t", "p", "u", in, 0.0, 30.0, 2, &ok);
    QVERIFY(!ok);
    QCOMPARE(out.value, 24.0);
    QCOMPARE(out.soundSwitch, true);
}

void TstWidgets::getDoubleOk_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("sound");
    QTest::addColumn<double>("max");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QString>("typed"); // empty: OK without editing
    QTest::addColumn<double>("shown");
    QTest::addColumn<double>("expected");
    QTest::newRow("unchanged, sound on") << 24.0 << true << 30.0 << 2 << "" << 24.0 << 24.0;
    QTest::newRow("unchanged, sound off") << 1.5 << false << 30.0 << 2 << "" << 1.5 << 1.5;
    QTest::newRow("above max shows max") << 50.0 << false << 30.0 << 2 << "" << 30.0 << 30.0;
    QTest::newRow("below min shows min") << -4.0 << true << 30.0 << 2 << "" << 0.0 << 0.0;
    QTest::newRow("typed value") << 24.0 << true << 30.0 << 2 << "12.5" << 24.0 << 12.5;
    QTest::newRow("three decimals kept") << 1.234 << false << 6.0 << 3 << "" << 1.234 << 1.234;
}

void TstWidgets::getDoubleOk()
{
    QFETCH(double, value);
    QFETCH(bool, sound);
    QFETCH(double, max);
    QFETCH(int, decimals);
    QFETCH(QString, typed);
    QFETCH(double, shown);
    QFETCH(double, expected);
    double seenValue = -1;
    bool seenChecked = !sound, wraps = false;
    QString title, box, unitAlign;
    QStringList labels;
    answerNextModal([&](QWidget* d) {
        title = d->windowTitle();
        auto* spin = d->findChild<QDoubleSpinBox*>();
        auto* check = d->findChild<QCheckBox*>();
        if (!spin || !check)
            return static_cast<void>(static_cast<QDialog*>(d)->reject());
        seenValue = spin->value();
        seenChecked = check->isChecked();
        box = check->text();
        for (auto* l : d->findChildren<QLabel*>()) {
            labels << l->text();
            wraps = wraps || (l->text() == QLatin1String("Over 24 V") && l->wordWrap());
        }
        if (!typed.isEmpty())
            typeInto(spin, typed);
        press(d, QStringLiteral("  OK  "));
    });
    bool ok = false;
    const ALARM_PARAM_T out = LMInputDialog::getDouble(
        nullptr, "Set alarm value", "Over 24 V", "Unit:(V)", { value, sound }, 0.0, max, decimals, &ok);
    QCOMPARE(title, QStringLiteral("Set alarm value"));
    QCOMPARE(labels, QStringList({ "Over 24 V", "Unit:(V)" }));
    QVERIFY(wraps);
    QCOMPARE(box, QStringLiteral("Sound switch"));
    QCOMPARE(seenValue, shown);
    QCOMPARE(seenChecked, sound);
    QVERIFY(ok);
    QCOMPARE(out.value, expected);
    QCOMPARE(out.soundSwitch, sound);
}

void TstWidgets::getTrigDataOpens_data()
{
    QTest::addColumn<int>("prot");
    QTest::addColumn<int>("vol");
    QTest::addColumn<int>("time");
    QTest::addColumn<int>("max");
    QTest::addColumn<QString>("volt");
    QTest::addColumn<int>("shownProt"); // after a step outside the table, what is shown and returned
    QTest::addColumn<int>("shownVol");
    QTest::addColumn<int>("shownTime");
    QTest::newRow("new step") << 0 << 0 << 1000 << 3 << "05.00V" << 0 << 0 << 1000;
    QTest::newRow("QC2.0 last") << 0 << 3 << 0 << 3 << "20.00V" << 0 << 3 << 0;
    QTest::newRow("QC3.0 first") << 1 << 0 << 5 << 82 << "03.60V" << 1 << 0 << 5;
    QTest::newRow("QC3.0 last") << 1 << 82 << 2000000000 << 82 << "20.00V" << 1 << 82 << 2000000000;
    QTest::newRow("FCP 12 V") << 2 << 2 << 300 << 2 << "12.00V" << 2 << 2 << 300;
    QTest::newRow("SCP first") << 3 << 0 << 1 << 335 << "03.30V" << 3 << 0 << 1;
    QTest::newRow("SCP 3620 mV") << 3 << 16 << 1 << 335 << "03.62V" << 3 << 16 << 1;
    QTest::newRow("SCP last") << 3 << 335 << 1 << 335 << "10.00V" << 3 << 335 << 1;
    QTest::newRow("AFC 9 V") << 4 << 0 << 1 << 1 << "09.00V" << 4 << 0 << 1;
    QTest::newRow("AFC 12 V") << 4 << 1 << 1 << 1 << "12.00V" << 4 << 1 << 1;
    QTest::newRow("protocol 5") << 5 << 0 << 1000 << 3 << "05.00V" << 0 << 0 << 1000;
    QTest::newRow("protocol -1") << -1 << 2 << 1000 << 3 << "05.00V" << 0 << 0 << 1000;
    QTest::newRow("QC3.0 index 83") << 1 << 83 << 1000 << 82 << "05.00V" << 1 << 7 << 1000;
    QTest::newRow("SCP index -5") << 3 << -5 << 1000 << 335 << "05.00V" << 3 << 85 << 1000;
    QTest::newRow("negative time") << 0 << 1 << -50 << 3 << "09.00V" << 0 << 1 << 0;
}

void TstWidgets::getTrigDataOpens()
{
    QFETCH(int, prot);
    QFETCH(int, vol);
    QFETCH(int, time);
    QFETCH(int, max);
    QFETCH(QString, volt);
    QFETCH(int, shownProt);
    QFETCH(int, shownVol);
    QFETCH(int, shownTime);
    TrigView v;
    answerNextModal([&v](QWidget* d) {
        v = readTrig(d);
        press(d, QStringLiteral("  OK  "));
    });
    bool ok = false;
    const TRIGGER_PARAM_T out = LMInputDialog::getTrigData(nullptr, { prot, vol, time }, &ok);
    QCOMPARE(v.title, QStringLiteral("Choose protocol"));
    QCOMPARE(v.items, QStringList({ "QC2.0", "QC3.0", "HUAWEI FCP", "HUAWEI SCP", "SAMSUNG AFC" }));
    QCOMPARE(v.labels, QStringList({ "TIME:", "(ms)" }));
    QCOMPARE(v.prot, shownProt);
    QCOMPARE(v.max, max);
    QCOMPARE(v.pos, shownVol);
    QCOMPARE(v.volt, volt);
    QCOMPARE(v.time, shownTime);
    QVERIFY(ok);
    QCOMPARE(out.indexOfProt, shownProt);
    QCOMPARE(out.indexOfVol, shownVol);
    QCOMPARE(out.time, shownTime);
}

void TstWidgets::getTrigDataProtocolChange_data()
{
    QTest::addColumn<int>("fromProt");
    QTest::addColumn<int>("fromVol");
    QTest::addColumn<int>("toProt");
    QTest::addColumn<int>("max");
    QTest::addColumn<int>("pos");
    QTest::addColumn<QString>("volt");
    QTest::newRow("QC2.0 from QC3.0") << 1 << 20 << 0 << 3 << 0 << "05.00V";
    QTest::newRow("QC3.0 after QC2.0 at 12 V") << 0 << 2 << 1 << 82 << 7 << "05.00V";
    QTest::newRow("FCP from QC3.0 at 9 V") << 1 << 27 << 2 << 2 << 0 << "05.00V";
    QTest::newRow("SCP") << 0 << 0 << 3 << 335 << 85 << "05.00V";
    QTest::newRow("AFC") << 3 << 300 << 4 << 1 << 0 << "09.00V";
    QTest::newRow("FCP from AFC at 12 V resets") << 4 << 1 << 2 << 2 << 0 << "05.00V";
}

void TstWidgets::getTrigDataProtocolChange()
{
    QFETCH(int, fromProt);
    QFETCH(int, fromVol);
    QFETCH(int, toProt);
    QFETCH(int, max);
    QFETCH(int, pos);
    QFETCH(QString, volt);
    TrigView v;
    answerNextModal([&v, toProt](QWidget* d) {
        d->findChild<QComboBox*>()->setCurrentIndex(toProt);
        v = readTrig(d);
        press(d, QStringLiteral("  OK  "));
    });
    bool ok = false;
    const TRIGGER_PARAM_T out = LMInputDialog::getTrigData(nullptr, { fromProt, fromVol, 750 }, &ok);
    QCOMPARE(v.max, max);
    QCOMPARE(v.pos, pos);
    QCOMPARE(v.volt, volt);
    QVERIFY(ok);
    QCOMPARE(out.indexOfProt, toProt);
    QCOMPARE(out.indexOfVol, pos);
    QCOMPARE(out.time, 750);
}

void TstWidgets::getTrigDataSliderStep_data()
{
    QTest::addColumn<int>("prot");
    QTest::addColumn<int>("vol");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("pos");
    QTest::addColumn<QString>("volt");
    QTest::newRow("QC3.0 +0.20 V") << 1 << 7 << int(Qt::Key_Right) << 8 << "05.20V";
    QTest::newRow("SCP +0.02 V") << 3 << 85 << int(Qt::Key_Right) << 86 << "05.02V";
    QTest::newRow("SCP -0.02 V") << 3 << 85 << int(Qt::Key_Left) << 84 << "04.98V";
    QTest::newRow("QC2.0 past the end") << 0 << 3 << int(Qt::Key_Right) << 3 << "20.00V";
    QTest::newRow("QC3.0 below the start") << 1 << 0 << int(Qt::Key_Left) << 0 << "03.60V";
}

void TstWidgets::getTrigDataSliderStep()
{
    QFETCH(int, prot);
    QFETCH(int, vol);
    QFETCH(int, key);
    QFETCH(int, pos);
    QFETCH(QString, volt);
    TrigView v;
    answerNextModal([&v, key](QWidget* d) {
        QTest::keyClick(d->findChild<QSlider*>(), Qt::Key(key));
        v = readTrig(d);
        press(d, QStringLiteral("  OK  "));
    });
    bool ok = false;
    const TRIGGER_PARAM_T out = LMInputDialog::getTrigData(nullptr, { prot, vol, 1000 }, &ok);
    QCOMPARE(v.pos, pos);
    QCOMPARE(v.volt, volt);
    QCOMPARE(out.indexOfProt, prot);
    QCOMPARE(out.indexOfVol, pos);
}

void TstWidgets::getTrigDataCancelKeepsEdits()
{
    // Cancel after edits: the edits come back, the flag stays false.
    answerNextModal([](QWidget* d) {
        d->findChild<QComboBox*>()->setCurrentIndex(3);
        QTest::keyClick(d->findChild<QSlider*>(), Qt::Key_Right);
        typeInto(d->findChild<QSpinBox*>(), QStringLiteral("2500"));
        press(d, QStringLiteral("Cancel"));
    });
    bool ok = false;
    TRIGGER_PARAM_T out = LMInputDialog::getTrigData(nullptr, { 0, 0, 1000 }, &ok);
    QVERIFY(!ok);
    QCOMPARE(out.indexOfProt, 3);
    QCOMPARE(out.indexOfVol, 86);
    QCOMPARE(out.time, 2500);

    // Time 0 is a valid duration.
    answerNextModal([](QWidget* d) {
        typeInto(d->findChild<QSpinBox*>(), QStringLiteral("0"));
        press(d, QStringLiteral("  OK  "));
    });
    out = LMInputDialog::getTrigData(nullptr, { 1, 7, 1000 }, &ok);
    QVERIFY(ok);
    QCOMPARE(out.time, 0);
}

void TstWidgets::inputDialogsSurviveParentDeletion()
{
    // A meter removed while its dialog is open takes the dialog with it.
    QPointer<QWidget> parent = new QWidget;
    answerNextModal([parent](QWidget*) { delete parent.data(); });
    bool ok = false;
    const ALARM_PARAM_T alarm = LMInputDialog::getDouble(parent, "t", "p", "u", { 5.0, true }, 0, 30, 2, &ok);
    QVERIFY(parent.isNull());
    QVERIFY(!ok);
    QCOMPARE(alarm.value, 5.0);

    parent = new QWidget;
    answerNextModal([parent](QWidget*) { delete parent.data(); });
    const TRIGGER_PARAM_T step = LMInputDialog::getTrigData(parent, { 1, 9, 40 }, &ok);
    QVERIFY(parent.isNull());
    QVERIFY(!ok);
    QCOMPARE(step.indexOfVol, 9);
}

void TstWidgets::inputDialogsGerman()
{
    QTranslator german;
    QVERIFY(german.load(QStringLiteral(":/ts/Translation_GE.qm")));
    qApp->installTranslator(&german);
    QString box;
    TrigView v;
    QStringList buttons;
    answerNextModal([&box](QWidget* d) {
        box = d->findChild<QCheckBox*>()->text();
        press(d, QStringLiteral("Cancel"));
    });
    bool ok = false;
    LMInputDialog::getDouble(nullptr, "t", "p", "u", { 1.0, false }, 0, 30, 2, &ok);
    answerNextModal([&v, &buttons](QWidget* d) {
        v = readTrig(d);
        for (auto* b : d->findChildren<QPushButton*>())
            buttons << b->text();
        press(d, QStringLiteral("Cancel"));
    });
    LMInputDialog::getTrigData(nullptr, { 0, 0, 1000 }, &ok);
    qApp->removeTranslator(&german);

    QCOMPARE(box, QStringLiteral("Ton"));
    QCOMPARE(v.title, QStringLiteral("Choose protocol"));
    QCOMPARE(v.items, QStringList({ "QC2.0", "QC3.0", "Huawei FCP", "Huawei SCP", "Samsung AFC" }));
    QCOMPARE(v.labels, QStringList({ "Dauer:", "(ms)" }));
    QCOMPARE(buttons, QStringList({ "  OK  ", "Cancel" }));
}

void TstWidgets::inputDialogScreenshots()
{
    QFile qss(QStringLiteral(":/qss/LM_ElegantDark.qss"));
    QVERIFY(qss.open(QIODevice::ReadOnly));
    QWidget parent; // styled like the main window, whose children the dialogs are
    parent.setStyleSheet(QString::fromUtf8(qss.readAll()));
    parent.resize(400, 300);
    parent.show();
    QImage shotDouble, shotTrig;
    answerNextModal([&shotDouble](QWidget* d) {
        shotDouble = d->grab().toImage();
        press(d, QStringLiteral("Cancel"));
    });
    bool ok = false;
    LMInputDialog::getDouble(&parent, QStringLiteral("Set alarm value"),
        QStringLiteral("  When VBUS is greater than the following value, an alarm will occur."),
        QStringLiteral("Unit:(V)"), { 24.0, true }, 0, 30, 2, &ok);
    answerNextModal([&shotTrig](QWidget* d) {
        d->findChild<QComboBox*>()->setCurrentIndex(3);
        shotTrig = d->grab().toImage();
        press(d, QStringLiteral("Cancel"));
    });
    LMInputDialog::getTrigData(&parent, { 0, 0, 1000 }, &ok);
    QVERIFY(!shotDouble.isNull() && !shotTrig.isNull());
    QVERIFY(shotDouble.save(outputPath(QStringLiteral("widgets_getDouble.png"))));
    QVERIFY(shotTrig.save(outputPath(QStringLiteral("widgets_getTrigData.png"))));
}

void TstWidgets::waitDialog()
{
    QWidget page;
    LMWaitDialog wait(&page);
    QSize size;
    bool frameless = false, visible = false;
    double opacity = 0;
    QString text;
    int shownValue = -1;
    bool textVisible = false;
    wait.progressBar->setValue(37);
    answerNextModal([&](QWidget* d) {
        auto* w = qobject_cast<LMWaitDialog*>(d);
        if (!w)
            return static_cast<void>(static_cast<QDialog*>(d)->reject());
        size = w->size();
        frameless = w->windowFlags().testFlag(Qt::FramelessWindowHint);
        opacity = w->windowOpacity();
        text = w->title->text();
        shownValue = w->progressBar->value();
        textVisible = w->progressBar->isTextVisible();
        visible = !w->isHidden();
        w->hide(); // how the importing page ends it
    });
    wait.exec();
    QCOMPARE(size, QSize(200, 68));
    QVERIFY(frameless);
    QVERIFY(qAbs(opacity - 0.8) < 0.01);
    QCOMPARE(text, QStringLiteral("Loading..."));
    QCOMPARE(shownValue, 37);
    QVERIFY(textVisible);
    QVERIFY(visible);
    QVERIFY(wait.isHidden());

    // The page reuses the one dialog for every import.
    wait.progressBar->setValue(0);
    const auto seen = answerNextModal([](QWidget* d) { d->hide(); });
    wait.exec();
    QVERIFY(seen->seen);
    QVERIFY(wait.isHidden());
}

void TstWidgets::checkBoxGestures_data()
{
    QTest::addColumn<Gesture>("gesture");
    QTest::addColumn<bool>("editable");
    QTest::addColumn<int>("toggles");
    QTest::newRow("click") << Click << true << 1;
    QTest::newRow("double click toggles once") << DoubleClick << true << 1;
    QTest::newRow("right click") << RightClick << true << 0;
    QTest::newRow("press inside, release outside") << PressInReleaseOut << true << 0;
    QTest::newRow("press outside, release inside") << PressOutReleaseIn << true << 0;
    QTest::newRow("locked row click") << Click << false << 0;
    QTest::newRow("locked row double click") << DoubleClick << false << 0;
}

void TstWidgets::checkBoxGestures()
{
    QFETCH(Gesture, gesture);
    QFETCH(bool, editable);
    QFETCH(int, toggles);
    Table t;
    t.record->setEditable(1, editable);
    QSignalSpy spy(t.record, &CheckBoxDelegate_Paint::stateChanged);
    perform(t.view.viewport(), gesture, t.box(1, 2));
    QCOMPARE(spy.count(), toggles);
    QCOMPARE(t.model.index(1, 2).data().toBool(), toggles == 1);
    if (toggles == 1)
        QCOMPARE(spy.first().first().value<QModelIndex>(), t.model.index(1, 2));
    for (int r : { 0, 2, 3 })
        QCOMPARE(t.model.index(r, 2).data().toBool(), false);

    // The counter is back at 0: the next plain click counts as one.
    QTest::mouseClick(t.view.viewport(), Qt::LeftButton, {}, t.box(1, 2).center());
    QCOMPARE(spy.count(), toggles + (editable ? 1 : 0));

    // Unlocking a row gives it its clicks back.
    t.record->setEditable(1, true);
    QTest::mouseClick(t.view.viewport(), Qt::LeftButton, {}, t.box(1, 2).center());
    QCOMPARE(spy.count(), toggles + (editable ? 2 : 1));
}

void TstWidgets::checkBoxLostRelease()
{
    // The view hands a release only to the cell that got the press: a press
    // in row 0's box released on row 1 leaves the column's counter at 1.
    Table t;
    QSignalSpy spy(t.record, &CheckBoxDelegate_Paint::stateChanged);
    QWidget* vp = t.view.viewport();
    QTest::mousePress(vp, Qt::LeftButton, {}, t.box(0, 2).center());
    QTest::mouseRelease(vp, Qt::LeftButton, {}, t.box(1, 2).center());
    QTest::mouseClick(vp, Qt::LeftButton, {}, t.box(2, 2).center()); // counts 2: no toggle
    QCOMPARE(spy.count(), 0);
    // The other column's delegate kept its own counter.
    QTest::mouseClick(vp, Qt::LeftButton, {}, t.box(2, 3).center());
    QCOMPARE(t.model.index(2, 3).data().toBool(), false);
    QTest::mouseClick(vp, Qt::LeftButton, {}, t.box(2, 2).center());
    QCOMPARE(spy.count(), 1);
    QCOMPARE(t.model.index(2, 2).data().toBool(), true);
}

void TstWidgets::checkBoxBoxGeometry_data()
{
    QTest::addColumn<int>("width");
    QTest::newRow("100 px") << 100;
    QTest::newRow("widened to 231 px") << 231;
    QTest::newRow("narrow 31 px") << 31;
}

void TstWidgets::checkBoxBoxGeometry()
{
    QFETCH(int, width);
    Table t;
    t.view.setColumnWidth(2, width);
    const QRect cell = t.view.visualRect(t.model.index(0, 2));
    const QRect box = t.box(0, 2);
    const QStyleOptionButton o;
    QCOMPARE(box.size(), QApplication::style()->subElementRect(QStyle::SE_CheckBoxIndicator, &o).size() + QSize(4, 4));
    QVERIFY(qAbs(box.center().x() - cell.center().x()) <= 1);
    QSignalSpy spy(t.record, &CheckBoxDelegate_Paint::stateChanged);
    QWidget* vp = t.view.viewport();
    const QPoint inside[] = { box.topLeft(), box.topRight(), box.bottomLeft(), box.bottomRight() };
    const QPoint outside[] = { box.topLeft() - QPoint(1, 0), box.topRight() + QPoint(1, 0),
        box.topLeft() - QPoint(0, 1), box.bottomLeft() + QPoint(0, 1) };
    for (const QPoint& p : outside)
        if (cell.contains(p))
            QTest::mouseClick(vp, Qt::LeftButton, {}, p);
    QCOMPARE(spy.count(), 0);
    for (const QPoint& p : inside)
        QTest::mouseClick(vp, Qt::LeftButton, {}, p);
    QCOMPARE(spy.count(), 4);
}

void TstWidgets::checkBoxImages()
{
    Table t;
    t.model.setData(t.model.index(0, 2), true);
    t.model.setData(t.model.index(2, 2), true);
    t.model.setItem(3, 2, new QStandardItem); // no value at all
    t.record->setEditable(2, false);
    t.record->setEditable(1, false);
    auto shot = [&t]() { return t.view.viewport()->grab().toImage(); };
    QImage img = shot();
    const Tally on = tally(img, t.box(0, 2)), lockedOn = tally(img, t.box(2, 2));
    const Tally lockedOff = tally(img, t.box(1, 2)), empty = tally(img, t.box(3, 2));
    QVERIFY2(on.green > on.total / 2 && on.dark > 0, "editable, ticked: green with a dark tick");
    QVERIFY2(lockedOn.grey > lockedOn.total / 2 && lockedOn.green == 0 && lockedOn.dark > 0, "locked, ticked: grey");
    QVERIFY2(lockedOff.grey > lockedOff.total / 2 && lockedOff.dark == 0, "locked, empty: pale grey");
    QVERIFY2(empty.blue > empty.total / 3 && empty.green == 0, "a cell without a value: empty blue box");

    // Only the box: no text, no background left of it.
    const QRect cell = t.view.visualRect(t.model.index(0, 2));
    const QRect left(cell.left() + 2, cell.top() + 2, t.box(0, 2).left() - cell.left() - 4, cell.height() - 4);
    const QColor base = img.pixelColor(left.topLeft());
    bool plain = true;
    for (int y = left.top(); y <= left.bottom(); ++y)
        for (int x = left.left(); x <= left.right(); ++x)
            plain = plain && img.pixelColor(x, y) == base;
    QVERIFY(plain);

    // Unlocking brings back the coloured image of the same value.
    t.record->setEditable(1, true);
    img = shot();
    const Tally unlocked = tally(img, t.box(1, 2));
    QVERIFY(unlocked.blue > unlocked.total / 3);

    // A click on the empty cell writes true.
    QTest::mouseClick(t.view.viewport(), Qt::LeftButton, {}, t.box(3, 2).center());
    QCOMPARE(t.model.index(3, 2).data(), QVariant(true));
}

void TstWidgets::checkBoxRowsAndOtherEvents()
{
    QTableView view;
    QStandardItemModel model(4, 4);
    view.setModel(&model);
    auto* d = new CheckBoxDelegate_Paint(&view); // no rows yet
    view.setItemDelegateForColumn(2, d);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.viewport()->grab(); // paints rows the delegate has no flags for
    d->setEditable(7, false);
    d->setEditable(-1, false);
    d->resize(4);
    d->setEditable(1, false);
    QSignalSpy spy(d, &CheckBoxDelegate_Paint::stateChanged);
    const QPoint box1 = expectedBox(view.visualRect(model.index(1, 2)), 4).center();
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, box1);
    QCOMPARE(spy.count(), 0);
    d->resize(4); // every row editable again
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, box1);
    QCOMPARE(spy.count(), 1);

    // A key press reaching the delegate is no mouse event and changes nothing.
    QKeyEvent key(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    QStyleOptionViewItem option;
    option.rect = view.visualRect(model.index(1, 2));
    QVERIFY(d->editorEvent(&key, &model, option, model.index(1, 2)));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(model.index(1, 2).data(), QVariant(true));
}

void TstWidgets::colorButton()
{
    Table t;
    t.model.setItem(0, 1, new QStandardItem); // no colour
    t.model.setData(t.model.index(2, 1), QColor(10, 200, 30));
    QImage img = t.view.viewport()->grab().toImage();
    QCOMPARE(img.pixelColor(t.box(0, 1, 2).center()), QColor(0, 0, 0));
    QVERIFY(sameHue(img.pixelColor(t.box(2, 1, 2).center()), QColor(10, 200, 30)));

    QSignalSpy spy(t.color, &ColorButtonDelegate_Paint::clickAccpet);
    QWidget* vp = t.view.viewport();
    QColor initial;
    {
        // Right click, press beside the button, double click: one dialog.
        ModalWatcher watcher([&initial](QWidget* d) {
            auto* cd = qobject_cast<QColorDialog*>(d);
            if (cd)
                initial = cd->currentColor();
            static_cast<QDialog*>(d)->reject();
        });
        perform(vp, RightClick, t.box(2, 1, 2));
        perform(vp, PressInReleaseOut, t.box(2, 1, 2));
        perform(vp, PressOutReleaseIn, t.box(2, 1, 2));
        QCoreApplication::processEvents(); // a dialog would open from here
        QCOMPARE(watcher.count, 0);
        perform(vp, DoubleClick, t.box(2, 1, 2));
        QTRY_COMPARE_WITH_TIMEOUT(watcher.count, 1, 5000);
        QCoreApplication::processEvents();
        QCOMPARE(watcher.count, 1);
    }
    QCOMPARE(initial, QColor(10, 200, 30));
    QCOMPARE(spy.count(), 0); // cancelled: nothing written
    QCOMPARE(t.model.index(2, 1).data().value<QColor>(), QColor(10, 200, 30));

    const auto seen = answerNextModal([](QWidget* d) {
        if (auto* cd = qobject_cast<QColorDialog*>(d)) {
            cd->setCurrentColor(QColor(0, 128, 255));
            cd->accept();
        } else {
            static_cast<QDialog*>(d)->reject();
        }
    });
    QTest::mouseClick(vp, Qt::LeftButton, {}, t.box(2, 1, 2).center());
    QTRY_VERIFY_WITH_TIMEOUT(seen->seen, 5000);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.first().at(0).toInt(), 2);
    QCOMPARE(spy.first().at(1).value<QColor>(), QColor(0, 128, 255));
    QCOMPARE(t.model.index(2, 1).data().value<QColor>(), QColor(0, 128, 255));
    img = t.view.viewport()->grab().toImage();
    QVERIFY(sameHue(img.pixelColor(t.box(2, 1, 2).center()), QColor(0, 128, 255)));
}

void TstWidgets::colorButtonTableDeletedWhileDialogOpen()
{
    // A meter unplugged while its colour dialog is open deletes the page with
    // the table and its delegates; the click must not come back into them.
    QStandardItemModel model(2, 2);
    model.setData(model.index(0, 1), QColor(Qt::red));
    QWidget page; // owns the table until the test deletes it
    QPointer<QTableView> view = new QTableView(&page);
    view->setModel(&model);
    view->resize(300, 120);
    QPointer<ColorButtonDelegate_Paint> delegate = new ColorButtonDelegate_Paint(view);
    view->setItemDelegateForColumn(1, delegate);
    page.resize(320, 140);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    QSignalSpy spy(delegate.data(), &ColorButtonDelegate_Paint::clickAccpet);
    const auto seen = answerNextModal([view](QWidget* d) {
        delete view.data();
        if (auto* cd = qobject_cast<QColorDialog*>(d)) {
            cd->setCurrentColor(QColor(0, 128, 255));
            cd->accept(); // confirmed after the table went away
        } else {
            static_cast<QDialog*>(d)->reject();
        }
    });
    QTest::mouseClick(
        view->viewport(), Qt::LeftButton, {}, expectedBox(view->visualRect(model.index(0, 1)), 2).center());
    QTRY_VERIFY_WITH_TIMEOUT(seen->seen, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(view.isNull(), 5000);
    QVERIFY(delegate.isNull());
    QCOMPARE(spy.count(), 0);
    QCOMPARE(model.index(0, 1).data().value<QColor>(), QColor(Qt::red));
}

QTEST_MAIN(TstWidgets)
#include "tst_widgets.moc"
