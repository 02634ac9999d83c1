#include "trkState.h"

#include <cstring>

namespace pcudata {

namespace {

// Texts travel as NUL-terminated strings; the copy stops at the terminator and always leaves
// one, so a source without a NUL can not make readers run past the field.
template <size_t N>
void copyText(char (&target)[N], const char (&source)[N])
{
    size_t len = ::strnlen(source, N - 1);
    std::memcpy(target, source, len);
    target[len] = '\0';
}

void clearTagFields(trkState_t& s)
{
    s.lock = TRK_LOCK_FREE;
    s.tagged = 0;
    s.reserved1[0] = '\0';
    s.orderId[0] = '\0';
    s.clientKey[0] = '\0';
    s.reserved2[0] = '\0';
    s.reserved3[0] = '\0';
    s.reserved4 = 0;
    s.tagTime = 0;
    s.notifyTime = 0;
    s.notifyDue = 0;
}

void clearPumpFields(trkState_t& s)
{
    s.prevStatus = TRK_STATUS_UNKNOWN;
    s.trk = 0;
    s.trkParam1 = 0;
    s.trkParam2 = -1;
    s.trkParam3 = -1;
    s.prodCode = -1;
    s.prodName[0] = '\0';
    s.status = TRK_STATUS_UNKNOWN;
    s.statusAux = 0;
    s.needPayFlag = 0;
    s.payWplace = 0;
    s.lockWplace = 0;
    s.lockType = 0;
    s.reserved5 = 0;
    s.reserved6[0] = '\0';
}

void clearDeliveryFields(trkState_t& s)
{
    s.presetVolume = -1;
    s.presetParam1 = -1;
    s.presetParam2 = -1;
    s.presetParam3 = -1;
    s.presetFlags = 0;
    s.presetParam5 = -1;
    s.trannum = -1;
    s.wCode = -1;
    s.wText[0] = '\0';
    s.volume = -1;
    s.amount = -1;
    s.autoCafe = 0;
    s.autoStart = 0;
    s.flagE2 = 0;
    s.blocked = 0;
    s.reserved7 = 0;
}

void copyTagFields(trkState_t& t, const trkState_t& s)
{
    t.tagged = s.tagged;
    copyText(t.reserved1, s.reserved1);
    copyText(t.orderId, s.orderId);
    copyText(t.clientKey, s.clientKey);
    copyText(t.reserved2, s.reserved2);
    copyText(t.reserved3, s.reserved3);
    t.reserved4 = s.reserved4;
    t.tagTime = s.tagTime;
    t.notifyTime = s.notifyTime;
    t.notifyDue = s.notifyDue;
}

void copyPumpFields(trkState_t& t, const trkState_t& s)
{
    t.prevStatus = s.prevStatus;
    t.trk = s.trk;
    t.trkParam1 = s.trkParam1;
    t.trkParam2 = s.trkParam2;
    t.trkParam3 = s.trkParam3;
    t.prodCode = s.prodCode;
    copyText(t.prodName, s.prodName);
    t.status = s.status;
    t.statusAux = s.statusAux;
    t.needPayFlag = s.needPayFlag;
    t.payWplace = s.payWplace;
    t.lockWplace = s.lockWplace;
    t.lockType = s.lockType;
    t.reserved5 = s.reserved5;
    copyText(t.reserved6, s.reserved6);
}

void copyDeliveryFields(trkState_t& t, const trkState_t& s)
{
    t.presetVolume = s.presetVolume;
    t.presetParam1 = s.presetParam1;
    t.presetParam2 = s.presetParam2;
    t.presetParam3 = s.presetParam3;
    t.presetFlags = s.presetFlags;
    t.presetParam5 = s.presetParam5;
    t.trannum = s.trannum;
    t.wCode = s.wCode;
    copyText(t.wText, s.wText);
    t.volume = s.volume;
    t.amount = s.amount;
    t.autoCafe = s.autoCafe;
    t.autoStart = s.autoStart;
    t.flagE2 = s.flagE2;
    t.blocked = s.blocked;
    t.reserved7 = s.reserved7;
}

const char* const statusTexts[TRK_STATUS_MAX + 1] = {
    "Нет связи с контроллером управления ТРК",
    "Нет связи с ТРК",
    "Исходное состояние ТРК, пистолет снят",
    "Исходное состояние ТРК, пистолет повешен",
    "ТРК готова к пуску (ожидание снятия пистолета программой)",
    "ТРК готова к пуску (ожидание снятия пистолета контроллером управления ТРК)",
    "ТРК готова к пуску (заказ отправлен в ТРК, ожидание снятия пистолета колонкой)",
    "Идет отпуск топлива",
    "Пауза в отпуске топлива",
    "Заправка окончена, ожидается передача данных от ТРК",
    "ТРК занята/зарезервирована (идет работа с кассой, карточным терминалом, ТСО и т.п.)",
    "ТРК в исходном состоянии, требуется расчет с клиентом",
    "Идет процесс начальной инициализации ТРК",
    "ТРК выключена",
    "ТРК остановлена, для окончания заправки требуется повесить пистолет",
    "ТРК в исходном состоянии, зарегистрирован аварийный отпуск топлива",
    "ТРК заблокирована",
};

const char* const unknownStatusText = "Статус ТРК неизвестен";

}  // namespace

void trkState_clear(trkState_t& state)
{
    clearTagFields(state);
    clearPumpFields(state);
    clearDeliveryFields(state);
}

void pcuStatus_clear(pcuStatus_t& status)
{
    status.drvState = -1;
    status.dataTime = 0;
    status.drvText1[0] = '\0';
    status.drvText2[0] = '\0';
    status.drvParam3 = -1;
    status.drvParam4 = -1;
    status.drvParam5 = -1;
    status.drvParam6 = -1;
    status.drvVersion = -1;
}

void sharedTrk_init(sharedTrk_t& segment)
{
    segment.header = 0;
    pcuStatus_clear(segment.pcuStatus);
    for (trkState_t& state : segment.trkState) trkState_clear(state);
}

bool copyTrkState(trkState_t* target, const trkState_t* source)
{
    if (source == nullptr || target == nullptr) return false;
    copyTagFields(*target, *source);
    copyPumpFields(*target, *source);
    copyDeliveryFields(*target, *source);
    return true;
}

const char* trkStatusText(int32_t status)
{
    if (status < 0 || status > TRK_STATUS_MAX) return unknownStatusText;
    return statusTexts[status];
}

}  // namespace pcudata
