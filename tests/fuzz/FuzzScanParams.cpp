// The scan recompute over any texts in the six fields, for either spectrograph: it either fails with the
// division error the user is shown, or leaves a consistent set of fields that read back as the state.
#include "FuzzCheck.h"
#include "FuzzWindow.h"
#include "KivStrUtils.h"
#include "OrvaneErrors.h"
#include "fMain.h"

#include <QLineEdit>
#include <QSignalBlocker>

#include <cmath>

using fuzzsupport::Input;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::startApplication();
    fuzzsupport::window();
    return 0;
}

namespace {

// A written-back real reads as the state field to the 15 digits written.
bool shows(const QLineEdit* edit, double value) {
    if (!std::isfinite(value))
        return true; // written as INF or NAN, which no field reads back
    const double back = StrToFloatDefault(edit->text(), std::nan(""));
    return std::abs(back - value) <= std::abs(value) * 1e-14;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    const int index = in.byte() & 1;
    TfrmMain& w = fuzzsupport::window();
    QLineEdit* const fields[2][6] = {{w.txtScanStart1, w.txtScanEnd1, w.txtScanPointRes1,
                                      w.txtScanPointCount1, w.txtScanTime1, w.txtScanPeriodCount1},
                                     {w.txtScanStart2, w.txtScanEnd2, w.txtScanPointRes2,
                                      w.txtScanPointCount2, w.txtScanTime2, w.txtScanPeriodCount2}};
    for (QLineEdit* edit : fields[index]) {
        // Typed texts, without the change notifications: the recompute below is the one under test.
        const QSignalBlocker quiet(edit);
        edit->setText(QString::fromUtf8(in.until('\n')));
    }

    constexpr double F = 1000;                // both spectrographs: the timer counts milliseconds
    for (int round = 0; round < 2; ++round) { // the second recompute reads the first one's output
        try {
            if (index == 0)
                w.CalcScanParams1();
            else
                w.CalcScanParams2();
        } catch (const DivisionByZeroError& e) {
            const QString message = QString::fromUtf8(e.what());
            FUZZ_CHECK(message == "Floating point division by zero" ||
                           message == "Invalid floating point operation",
                       message);
            break;
        }
        const double start = index == 0 ? w.panel(0).scan().Start : w.panel(1).scan().Start;
        const double end = index == 0 ? w.panel(0).scan().End : w.panel(1).scan().End;
        const double resolution = index == 0 ? w.panel(0).scan().Resolution : w.panel(1).scan().Resolution;
        const int count = index == 0 ? w.panel(0).scan().PointCount : w.panel(1).scan().PointCount;
        const double scanTime = index == 0 ? w.panel(0).scan().Time : w.panel(1).scan().Time;
        const double pointTime = index == 0 ? w.panel(0).scan().PointTime : w.panel(1).scan().PointTime;
        const int periods = index == 0 ? w.panel(0).scan().PeriodCount : w.panel(1).scan().PeriodCount;
        FUZZ_CHECK(count != 0);
        FUZZ_CHECK(pointTime >= F / 100 && pointTime == std::trunc(pointTime));
        FUZZ_CHECK(shows(fields[index][0], start), fields[index][0]->text());
        FUZZ_CHECK(shows(fields[index][1], end), fields[index][1]->text());
        FUZZ_CHECK(shows(fields[index][2], resolution), fields[index][2]->text());
        FUZZ_CHECK(parseIntDefault(fields[index][3]->text(), 0) == count, fields[index][3]->text());
        FUZZ_CHECK(shows(fields[index][4], scanTime), fields[index][4]->text());
        FUZZ_CHECK(parseIntDefault(fields[index][5]->text(), -1) == periods, fields[index][5]->text());
        QLineEdit* pointTimeEdit = index == 0 ? w.txtScanPointTime1 : w.txtScanPointTime2;
        FUZZ_CHECK(shows(pointTimeEdit, pointTime / F), pointTimeEdit->text());
    }
    const QStringList errors = fuzzsupport::takeErrors();
    FUZZ_CHECK(errors.isEmpty(), errors.join(u'\n'));
    return 0;
}
