#include "controlCommands.h"

#include "commandLine.h"
#include "replyCodes.h"
#include "replyLine.h"
#include "stationBlocks.h"

namespace sim {

namespace {

struct answer {
    replyLine head;
    std::vector<std::string> block;  // lines after the head (ACFG/APRS)
};

answer plain(const std::string& cmd, int res)
{
    return answer{makeReply(cmd, res), {}};
}

answer withVal(const std::string& cmd, int res, const simPump& p)
{
    answer a = plain(cmd, res);
    if (res == rc::ok) a.head.extras.push_back({"VAL", std::to_string(p.st.trannum)});
    return a;
}

answer registerWorkplace(controlSession& s, const commandLine& c)
{
    if (c.value("NUM") <= 0) return plain(c.name, rc::badParam);
    s.registered = true;
    s.wplace = c.value("NUM");
    s.wplaceTyp = c.value("TYP");
    answer a = plain(c.name, rc::ok);
    a.head.txt = "Рабочее место зарегистрировано";
    return a;
}

answer priceOf(const simStation& st, const commandLine& c)
{
    const simProduct* p = productByCode(st.cfg, c.value("PRD"));
    if (!p || !paymentKnown(st.cfg, c.value("PMT"))) return plain(c.name, rc::badProduct);
    answer a = plain(c.name, rc::ok);
    a.head.extras = {{"PRS", std::to_string(p->price)}, {"PRD", std::to_string(p->cod)}};
    return a;
}

answer block(const std::string& cmd, const std::string& txt, std::vector<std::string> sections)
{
    answer a = plain(cmd, rc::ok);
    a.head.txt = txt;
    a.block = std::move(sections);
    return a;
}

answer pwork(simStation& st, const controlSession& s, simPump& p, const commandLine& c)
{
    switch (c.value("TYP", -1)) {
        case 0:
            return plain(c.name, p.test());
        case 1: {
            if (!paymentKnown(st.cfg, c.value("PMT"))) return plain(c.name, rc::badProduct);
            int res = p.reserve(c.value("PRD"), c.value("PMT"), st.nextTrannum, s.wplace);
            if (res == rc::ok) ++st.nextTrannum;
            return withVal(c.name, res, p);
        }
        case 2:
            return plain(c.name, p.release());
        default:
            return plain(c.name, rc::badParam);
    }
}

answer pset(simStation& st, const controlSession& s, simPump& p, const commandLine& c)
{
    if (!paymentKnown(st.cfg, c.value("PMT"))) return plain(c.name, rc::badProduct);
    presetOrder o;
    o.prodCode = c.value("PRD");
    o.pmt = c.value("PMT");
    o.typ = c.value("TYP");
    o.volumeMl = c.value("VOL");
    o.price = c.value("PRS");
    o.money = c.value("MNY");
    o.wplace = s.wplace;
    int res = p.preset(o, st.nextTrannum);
    if (res == rc::ok && p.st.trannum == st.nextTrannum) ++st.nextTrannum;
    return withVal(c.name, res, p);
}

answer changePayment(const simStation& st, simPump& p, const commandLine& c)
{
    if (!paymentKnown(st.cfg, c.value("PMT"))) return plain(c.name, rc::badProduct);
    return plain(c.name, p.changePayment(c.value("PMT")));
}

answer pumpCommand(simStation& st, const controlSession& s, const commandLine& c)
{
    int num = c.name == "WPWRK" ? c.value("TRK") : c.value("NUM");
    simPump* p = st.pump(num);
    if (!p) return plain(c.name, rc::badPump);
    if (c.name == "PWORK") return pwork(st, s, *p, c);
    if (c.name == "PSET") return pset(st, s, *p, c);
    if (c.name == "STOP") return plain(c.name, p->stop());
    if (c.name == "TSTBD") return plain(c.name, p->testBusy());
    if (c.name == "WPWRK") return plain(c.name, p->lockPayment(s.wplace, c.value("TYP")));
    if (c.name == "CHPMT") return changePayment(st, *p, c);
    if (c.name == "PRNQ") return plain(c.name, p->settle(s.wplace, c.value("TYP", -1)));
    return plain(c.name, rc::badCommand);
}

answer execute(simStation& st, controlSession& s, const commandLine& c, int parsed)
{
    if (parsed == -1) return plain("ERR", rc::badCommand);
    if (parsed == -2) return plain(c.name, rc::badParam);
    if (c.name == "REGM") return registerWorkplace(s, c);
    if (c.name == "ACFG") return block(c.name, "Конфигурация АЗС", configSections(st.cfg));
    if (c.name == "APRS") return block(c.name, "Цены АЗС", priceSections(st.cfg));
    if (!s.registered) return plain(c.name, rc::notRegistered);
    if (c.name == "GETPRS") return priceOf(st, c);
    return pumpCommand(st, s, c);
}

// A refused ACFG/APRS names another command in its header, which is how the web service tells a
// refusal from the block.
answer refusal(const std::string& cmd, const commandFault& f)
{
    bool blockCmd = cmd == "ACFG" || cmd == "APRS";
    return plain(blockCmd || cmd.empty() ? "ERR" : cmd, f.res);
}

std::string linesText(const answer& a)
{
    std::string out = a.head.text() + "\n";
    for (const std::string& l : a.block) out += l + "\n";
    return out;
}

std::string intermediateText(const std::string& cmd, const commandFault& f)
{
    replyLine r = makeReply(cmd.empty() ? "ERR" : cmd, f.intermediateRes);
    r.tcod = "WAIT";
    r.txt = "Команда выполняется";
    std::string out;
    for (int i = 0; i < f.intermediate; ++i) out += r.text() + "\n";
    return out;
}

void applyOverrides(answer& a, const commandFault& f)
{
    if (!f.tcod.empty()) a.head.tcod = f.tcod;
    if (!f.txt.empty()) a.head.txt = f.txt;
}

}  // namespace

controlOutcome handleControlLine(simStation& st, controlSession& session, const std::string& line)
{
    st.received.push_back(line);
    commandLine c;
    int parsed = parseCommandLine(line, c);
    commandFault f;
    bool faulty = st.faults.take(c.name, f);
    controlOutcome out;
    if (faulty && f.closeBefore) {
        out.closeBefore = true;
        return out;
    }
    answer a = faulty && f.res != rc::ok ? refusal(c.name, f) : execute(st, session, c, parsed);
    if (faulty) {
        applyOverrides(a, f);
        out.early = intermediateText(c.name, f);
        out.delayMs = f.delayMs;
        out.closeAfter = f.closeAfter;
    }
    if (faulty && f.hasRaw)
        out.late = f.raw.empty() || f.raw.back() != '\n' ? f.raw + "\n" : f.raw;
    else if (!(faulty && f.drop))
        out.late = linesText(a);
    return out;
}

}  // namespace sim
