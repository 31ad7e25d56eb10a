// Plan import benchmark: prints ratios, which travel between machines better than times.
//
// A shown trigger page imports a plan file of 2 thousand steps and one of 20
// thousand through its Import button's slot. Timed from the moment the file
// dialog is accepted until the slot has returned and the page has handled its
// pending events (the tree laid out and painted). Goal: the 20 thousand steps
// take at most about 15 times as long as the 2 thousand (linear growth).
//
// Usage: bench_plan [rounds]   (default 3; runs on the offscreen platform unless told otherwise)

#include "modalresponder.h"
#include "planfile.h"
#include "usbprocotol.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

// Steps cycling through every protocol and a few of its voltages.
QList<TRIGGER_PARAM_T> plan(int steps)
{
    const int voltages[] = { 4, 83, 3, 336, 2 };
    QList<TRIGGER_PARAM_T> out;
    out.reserve(steps);
    for (int i = 0; i < steps; ++i) {
        TRIGGER_PARAM_T s;
        s.indexOfProt = i % 5;
        s.indexOfVol = (i / 5) % voltages[s.indexOfProt];
        s.time = 100 + i % 1000;
        out.append(s);
    }
    return out;
}

bool writePlan(const QString& path, int steps)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && planfile::write(f, plan(steps));
}

// One import of the file into the page, in milliseconds; negative when the
// page did not end up holding the plan.
double importMs(UsbProcotol* page, const QString& path, int steps)
{
    auto clock = std::make_shared<QElapsedTimer>();
    answerNextModal([path, clock](QWidget* dialog) {
        auto* fd = qobject_cast<QFileDialog*>(dialog);
        if (!fd) {
            static_cast<QDialog*>(dialog)->reject();
            return;
        }
        if (auto* edit = fd->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            edit->setText(path);
        fd->selectFile(path);
        clock->start();
        static_cast<QDialog*>(fd)->accept();
    });
    page->btnImportSlot();
    QApplication::processEvents();
    const double ms = clock->isValid() ? double(clock->nsecsElapsed()) / 1e6 : -1;
    auto* tree = page->findChild<QTreeWidget*>(QStringLiteral("treeWidget"));
    if (!tree || tree->topLevelItemCount() != steps || tree->currentItem() != tree->topLevelItem(steps - 1))
        return -1;
    return ms;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;

    // The page keeps its last folder in ./Setting.ini: kept out of the caller's folder.
    QTemporaryDir dir;
    if (!dir.isValid() || !QDir::setCurrent(dir.path()))
        return 1;
    const int sizes[] = { 2000, 20000 };
    for (int n : sizes)
        if (!writePlan(dir.filePath(QStringLiteral("plan%1.pqz").arg(n)), n))
            return 1;

    auto page = std::make_unique<UsbProcotol>();
    page->resize(980, 724);
    page->show();
    if (!QTest::qWaitForWindowExposed(page.get()))
        return 1;

    std::printf("Plan import into a shown trigger page, %d rounds, median\n", rounds);
    importMs(page.get(), dir.filePath(QStringLiteral("plan2000.pqz")), 2000); // warm-up
    std::vector<double> times[2];
    for (int round = 0; round < rounds; ++round) {
        for (int i = 0; i < 2; ++i) {
            const double ms = importMs(page.get(), dir.filePath(QStringLiteral("plan%1.pqz").arg(sizes[i])), sizes[i]);
            if (ms < 0) {
                std::fprintf(stderr, "bench_plan: the page did not show the %d steps\n", sizes[i]);
                return 1;
            }
            times[i].push_back(ms);
        }
    }
    const double small = median(times[0]);
    const double large = median(times[1]);
    std::printf("  2 thousand steps   %10.1f ms\n", small);
    std::printf("  20 thousand steps  %10.1f ms\n", large);
    std::printf("  ratio              %10.2f     goal <= 15\n", large / small);
    return 0;
}
