#include "httpContext.h"

#include <Poco/Exception.h>
#include <Poco/URI.h>

#include <cctype>
#include <istream>
#include <sstream>

namespace azs_apps {

namespace {

// Media type without parameters, compared without regard to case ("...; charset=utf-8" allowed).
bool isFormType(const std::string& contentType)
{
    static const std::string form = "application/x-www-form-urlencoded";
    std::string type = contentType.substr(0, contentType.find(';'));
    while (!type.empty() && (type.back() == ' ' || type.back() == '\t')) type.pop_back();
    if (type.size() != form.size()) return false;
    for (size_t i = 0; i < type.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(type[i])) != form[i]) return false;
    return true;
}

}  // namespace

httpContext::httpContext(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response)
    : request(request), response(response)
{
    splitUri();
}

void httpContext::splitUri()
{
    const std::string& uri = request.getURI();
    size_t q = uri.find('?');
    std::string rawPath = uri.substr(0, q);
    try {
        Poco::URI::decode(rawPath, requestPath);
    } catch (const Poco::Exception&) {
        requestPath = rawPath;  // a broken escape matches no route, which is the right answer
    }
    if (q == std::string::npos) return;
    size_t hash = uri.find('#', q);
    readForm(query, uri.substr(q + 1, hash == std::string::npos ? std::string::npos : hash - q - 1));
}

// A malformed or oversized parameter list leaves what could be read; the handler then finds the
// missing values empty and answers accordingly instead of the server failing the request.
void httpContext::readForm(Poco::Net::HTMLForm& into, const std::string& text)
{
    try {
        into.read(text);
    } catch (const Poco::Exception&) {
    }
}

bool httpContext::readBody()
{
    std::istream& in = request.stream();
    char chunk[8192];
    while (in) {
        in.read(chunk, sizeof chunk);
        body.append(chunk, static_cast<size_t>(in.gcount()));
        if (body.size() > BODY_LIMIT) return false;
    }
    return true;
}

std::string httpContext::get(const std::string& name) const
{
    return query.get(name, "");
}

void httpContext::parseFormBody()
{
    if (formParsed) return;
    formParsed = true;
    readForm(form, body);
}

std::string httpContext::post(const std::string& name)
{
    if (!formParsed && isFormType(contentType())) parseFormBody();
    return form.get(name, "");
}

bool httpContext::complete(afterAnswer next)
{
    if (completed || closed) return false;
    completed = true;
    try {
        response.setStatusAndReason(static_cast<Poco::Net::HTTPResponse::HTTPStatus>(answerStatus));
        for (const auto& h : headers) response.set(h.first, h.second);
        response.setContentLength(static_cast<std::streamsize>(answer.size()));
        if (next == carryOn) response.setKeepAlive(false);
        std::ostream& os = response.send();
        os.write(answer.data(), static_cast<std::streamsize>(answer.size()));
        os.flush();
        return os.good();
    } catch (const Poco::Exception&) {
        return false;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace azs_apps
