// The reply dispatcher fed any byte stream over a real serial line: a pseudo-terminal linked as COM1,
// opened by the window's own serial component, whose receive thread raises the event the dispatcher
// handles. Whatever arrives is read as the answer to the command on record, or told as a bad reply.
#include "FuzzCheck.h"
#include "FuzzWindow.h"
#include "KivComm.h"
#include "fMain.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

using fuzzsupport::Input;

namespace {

int master = -1;
int handled = 0;

void drainMaster() {
    char buffer[4096];
    while (::read(master, buffer, sizeof buffer) > 0) {
    }
}

void writeAll(const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else if (errno == EAGAIN) {
            drainMaster();
            QCoreApplication::processEvents();
        } else {
            std::perror("write to the line");
            std::abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::startApplication();
    master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        std::perror("pseudo-terminal");
        std::abort();
    }
    char folder[] = "/tmp/orvane-fuzz-XXXXXX";
    if (!::mkdtemp(folder) || ::symlink(::ptsname(master), (std::string(folder) + "/COM1").c_str()) != 0) {
        std::perror("port folder");
        std::abort();
    }
    ::setenv("ORVANE_PORT_DIR", folder, 1);
    TfrmMain& w = fuzzsupport::window();
    w.panel(0).comm()->SetPort(COM01);
    if (!w.panel(0).comm()->OpenComm()) {
        std::fprintf(stderr, "cannot open COM1 at %s\n", folder);
        std::abort();
    }
    // Count the dispatches, so that each input waits for its own.
    auto dispatcher = w.panel(0).comm()->OnEventCharReceived;
    w.panel(0).comm()->OnEventCharReceived = [dispatcher](QObject* sender, int count) {
        dispatcher(sender, count);
        ++handled;
    };
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    // Every command but the grating change, whose reply waits 300 ms before the move it chains.
    static constexpr TCommandKind kinds[] = {ckStatus, ckInfo, ckMove, ckStop, ckInitialize};
    const TCommandKind kind = kinds[in.byte() % 5];
    QByteArray stream = in.rest();
    stream += '*'; // at least one event character, so the dispatcher runs

    TfrmMain& w = fuzzsupport::window();
    w.panel(0).comm()->Purge();
    drainMaster();
    // The command goes out on the line as ever; its bytes are drained before the reply is written.
    w.panel(0).sendCommand(kind);
    drainMaster();
    const int before = handled;
    writeAll(stream);

    QDeadlineTimer deadline(5000);
    while (handled == before && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    FUZZ_CHECK(handled > before); // the "*" always reaches the dispatcher
    drainMaster();

    FUZZ_CHECK(w.panel(0).lastReply().size() <= stream.size() || kind == ckInitialize);
    if (kind == ckStatus || kind == ckMove) {
        FUZZ_CHECK(!w.panel(0).busy());
        fuzzsupport::checkReadout(0);
    }
    const QStringList errors = fuzzsupport::takeErrors();
    FUZZ_CHECK(errors.isEmpty(), errors.join(u'\n'));
    return 0;
}
