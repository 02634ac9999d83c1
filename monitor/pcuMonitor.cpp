// Connection handling and the monitoring loop.
#include "pcuMonitor.h"

#include <sys/shm.h>
#include <unistd.h>

#include <cstring>

#include "runner.h"
#include "sharedConfig.h"
#include "str.h"
#include "timeSource.h"

namespace pcudata {

namespace {

std::string errorText(const char* what, int code)
{
    return std::string(what) + std::to_string(code) + " '" + std::strerror(code) + "' )";
}

// Shared part of the two tagged-pump lines: order, transaction, pump, status, litres and money.
std::string orderFigures(const trkState_t& s)
{
    return std::string(s.orderId) + "' " + " транзакция '" + std::to_string(s.trannum) + "' " +
           "[ ТРК=" + std::to_string(s.trk) + " Статус=" + std::to_string(s.status) +
           " Объем=" + str::dbl2str(static_cast<double>(s.volume) / 1000.0, 6) +
           " Сумма=" + str::dbl2str(static_cast<double>(s.amount) / 100.0, 6) + " ] ";
}

}  // namespace

pcuMonitor::pcuMonitor()
{
    monSock.setHost(sharedConfig::DEFAULT_CTL_ADDR);
    monSock.setPort(DEFAULT_PORT);
    seg.setIpcPath(shmKeyFile(sharedConfig::DEFAULT_TMP_PATH));
}

pcuMonitor::pcuMonitor(const std::string& host, uint32_t port) : pcuMonitor()
{
    monSock.connect(host, port);
}

pcuMonitor::~pcuMonitor()
{
    shmStop();
    if (monSock.isConnected()) monSock.disconnect();
}

bool pcuMonitor::open(const std::string& host, uint32_t port)
{
    monSock.connect(host, port);
    if (monSock.isConnected()) setDataTime(timeSrc().now());
    return monSock.isConnected();
}

int32_t pcuMonitor::close()
{
    setDataTime(0);
    return monSock.disconnect();
}

void pcuMonitor::stopFromSignal()
{
    sharedTrk_t* shm = seg.shm;
    if (shm != nullptr) shm->pcuStatus.dataTime = 0;
    if (monSock.fd() >= 0) ::close(monSock.fd());
    if (shm != nullptr) ::shmdt(shm);
}

void pcuMonitor::setDataTime(time_t t)
{
    if (seg.isAttached()) seg.shm->pcuStatus.dataTime = t;
}

void pcuMonitor::run()
{
    for (;;) runPass();
}

void pcuMonitor::runPass()
{
    if (passHook != nullptr) passHook();
    seg.lastError = 0;
    if (!monSock.isConnected() && !connectPass()) return;
    if (socketCheckDue() && monSock.hasError()) {
        runner::log(errorText("Сокет работает с ошибками ( err : ", monSock.errCode()), runner::err);
        dropConnection();
        return;
    }
    monSock.errClear();
    trkState_clear(scratch);
    const std::string line = monSock.readln();
    if (readFailed()) return;
    // The controller closed the connection: the read ended on end of stream, not on data or on
    // the quiet budget. Keep the was-connected flag so that the next pass reports the loss and
    // reconnects; dataTime must not pretend that the controller is still there.
    if (monSock.isPeerClosed()) {
        dropConnection();
        return;
    }
    setDataTime(timeSrc().now());
    streaming = !line.empty();
    if (streaming) dispatch(line);
}

// The socket check costs a system call per pass, as much as parsing the line. While lines keep
// coming it runs once per second of the clock: a fault of a busy connection also shows in the next
// read that reaches the kernel, which takes the read-error path. A fresh or idle connection is
// checked on every pass.
bool pcuMonitor::socketCheckDue()
{
    const time_t now = timeSrc().now();
    if (streaming && now == lastCheckTime) return false;
    lastCheckTime = now;
    return true;
}

// Steps of a pass without a connection. True when the pass may go on reading.
bool pcuMonitor::connectPass()
{
    if (wasConnected) {
        wasConnected = false;
        const char* lost = "Потеря соединения с сокетом мониторинга ТРК. Восстановление подключения";
        runner::log(lost, runner::err);
        runner::log(lost, runner::out);
    }
    if (monSock.connect(monSock.getHost(), monSock.getPort()) != 0) {
        const time_t now = timeSrc().now();
        if (now - lastWarnTime > NO_CONNECTION_WARN_SEC) {
            lastWarnTime = now;
            runner::log("Нет подключения к сокету мониторинга ТРК. Переподключиаемя", runner::err);
        }
        monSock.disconnect();
        timeSrc().sleepUs(ERROR_PAUSE_US);
        return false;
    }
    runner::log("Подключение к сокету мониторинга ТРК установлено", runner::out);
    wasConnected = true;
    streaming = false;
    return true;
}

// A read that ended with an error code: logged, and the connection is dropped for a fresh one.
bool pcuMonitor::readFailed()
{
    const int code = monSock.errCode();
    if (code == 0) return false;
    const std::string text = errorText("Ошибка чтения данных состояния ТРК ( err : ", code);
    runner::log(text, runner::err);
    runner::log(text, runner::out);
    if (monSock.isConnected()) {
        runner::log("Разрываем соединение с сокетом", runner::out);
        monSock.disconnect();
        wasConnected = false;
        timeSrc().sleepUs(ERROR_PAUSE_US);
    }
    monSock.errClear();
    return true;
}

// Disconnect and pause; the was-connected flag stays, so the next pass reports the loss.
void pcuMonitor::dropConnection()
{
    monSock.disconnect();
    timeSrc().sleepUs(ERROR_PAUSE_US);
}

// Results of the D, E and Y parsers do not matter to the loop: a rejected line is just skipped.
void pcuMonitor::dispatch(const std::string& line)
{
    switch (line[0]) {
        case 'D':
            parsePcuStatus(line);
            break;
        case 'E':
        case 'Y':
            parseTrkBitFlags(line);
            break;
        case 'T':
            if (parseTrkState_n(line, scratch) >= 0) logTagged(scratch);
            break;
        default:
            break;
    }
}

// Operators follow a remote order through these lines; untagged pumps stay silent.
void pcuMonitor::logTagged(const trkState_t& s) const
{
    if (s.status < 0 || s.tagged != 1) return;
    runner::log("Наблюдение за состоянием ТРК : Заказ '" + orderFigures(s) +
                    "[ at : " + std::to_string(s.tagTime) + "]",
                runner::out);
    if (s.status >= 4 && s.status <= 9 && s.notifyDue != 0 && s.trk >= 1 && s.trk <= TRK_COUNT)
        runner::log("Состояние счетика налива: Заказ '" + orderFigures(s), runner::out);
}

}  // namespace pcudata
