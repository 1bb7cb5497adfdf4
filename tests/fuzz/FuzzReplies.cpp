// The three reply parsers over any reply text, for either spectrograph: nothing is read past the
// reply or written past the grating table, and the panel shows what was stored.
#include "FuzzCheck.h"
#include "FuzzWindow.h"
#include "KivStrUtils.h"
#include "fMain.h"

#include <QLineEdit>

#include <cmath>

using fuzzsupport::Input;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::startApplication();
    fuzzsupport::window();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    const std::uint8_t choice = in.byte();
    const int index = choice & 1;
    // The dispatcher hands the parsers the bytes as Latin-1 text.
    const QString reply = QString::fromLatin1(in.rest());
    TfrmMain& w = fuzzsupport::window();
    switch ((choice >> 1) % 3) {
    case 0:
        w.panel(index).parseStatusReply(reply);
        fuzzsupport::checkReadout(index);
        break;
    case 1:
        w.panel(index).parsePositionReply(reply);
        fuzzsupport::checkReadout(index);
        break;
    default: {
        w.panel(index).parseInfoReply(reply);
        const TSpectrographInfo& s = w.panel(index).info();
        QLineEdit* const blazes[2][3] = {{w.txtBlaze11, w.txtBlaze12, w.txtBlaze13},
                                         {w.txtBlaze21, w.txtBlaze22, w.txtBlaze23}};
        QLineEdit* const grooves[2][3] = {{w.txtGroove11, w.txtGroove12, w.txtGroove13},
                                          {w.txtGroove21, w.txtGroove22, w.txtGroove23}};
        for (int row = 0; row < 3; ++row) {
            FUZZ_CHECK(parseIntDefault(grooves[index][row]->text(), -1) == s.Gratings[row].Groove);
            const double blaze = s.Gratings[row].Blaze;
            const double shown = StrToFloatDefault(blazes[index][row]->text(), 0);
            FUZZ_CHECK(std::abs(shown - blaze) <= std::abs(blaze) * 1e-14, blazes[index][row]->text());
        }
        break;
    }
    }
    const QStringList errors = fuzzsupport::takeErrors();
    FUZZ_CHECK(errors.isEmpty(), errors.join(u'\n'));
    return 0;
}
