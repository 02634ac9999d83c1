#include "replyCodes.h"

namespace sim {

namespace {

struct codeInfo {
    int res;
    const char* tcod;
    const char* txt;
};

// Refusals caused by the pump itself (no link, off, blocked) carry ERRPCU: repeating the command
// cannot help, and the web service does not retry a start refused so.
const codeInfo codes[] = {
    {rc::ok, "OK", "Команда выполнена"},
    {rc::notRegistered, "ERRREG", "Рабочее место не зарегистрировано"},
    {rc::busy, "BUSY", "ТРК занята"},
    {rc::badPump, "ERRNUM", "Неверный номер ТРК"},
    {rc::badCommand, "ERRCMD", "Неизвестная команда"},
    {rc::badState, "ERRSTATE", "Команда недопустима в текущем состоянии ТРК"},
    {rc::badParam, "ERRPARAM", "Неверные параметры команды"},
    {rc::noLink, "ERRPCU", "Нет связи с ТРК"},
    {rc::pumpOff, "ERRPCU", "ТРК выключена"},
    {rc::pumpBlocked, "ERRPCU", "ТРК заблокирована"},
    {rc::payLocked, "LOCKED", "Оплата ТРК выполняется другим рабочим местом"},
    {rc::badProduct, "ERRPRD", "Неверные данные по продукту или платежной системе"},
};

const codeInfo* find(int res)
{
    for (const codeInfo& c : codes)
        if (c.res == res) return &c;
    return nullptr;
}

}  // namespace

std::string codeTcod(int res)
{
    const codeInfo* c = find(res);
    return c ? c->tcod : "ERROR";
}

std::string codeText(int res)
{
    const codeInfo* c = find(res);
    return c ? c->txt : "Ошибка выполнения команды";
}

}  // namespace sim
