#include "httpContext.h"

#include <Poco/Exception.h>
#include <Poco/Net/HTMLForm.h>
#include <Poco/URI.h>

#include <cctype>
#include <istream>
#include <sstream>

#include "httpAnswer.h"
#include "stationMetrics.h"

namespace azs_apps {

namespace {

const char* const URL_FORM = "application/x-www-form-urlencoded";
const char* const MULTIPART_FORM = "multipart/form-data";

// Media type without parameters, in lower case ("...; charset=utf-8" allowed).
std::string mediaType(const std::string& contentType)
{
    std::string type = contentType.substr(0, contentType.find(';'));
    while (!type.empty() && (type.back() == ' ' || type.back() == '\t')) type.pop_back();
    for (char& c : type) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return type;
}

bool isFormType(const std::string& contentType)
{
    std::string type = mediaType(contentType);
    return type == URL_FORM || type == MULTIPART_FORM;
}

}  // namespace

httpContext::httpContext(std::unique_ptr<httpRequest> request, sender send, bool keepAlive)
    : req(std::move(request)), send(std::move(send)), keepAlive(keepAlive)
{
    splitUri();
}

void httpContext::splitUri()
{
    const std::string& uri = req->head.getURI();
    size_t q = uri.find('?');
    std::string rawPath = uri.substr(0, q);
    try {
        Poco::URI::decode(rawPath, requestPath);
    } catch (const Poco::Exception&) {
        requestPath = rawPath;  // a broken escape matches no route, which is the right answer
    }
    if (q == std::string::npos) return;
    size_t hash = uri.find('#', q);
    query.read(uri.substr(q + 1, hash == std::string::npos ? std::string::npos : hash - q - 1));
}

std::string httpContext::get(const std::string& name) const
{
    return query.get(name);
}

void httpContext::parseFormBody()
{
    if (formParsed) return;
    formParsed = true;
    if (mediaType(contentType()) == MULTIPART_FORM)
        readMultipartForm();
    else
        form.read(req->body);
}

// Plain fields of a multipart body; file parts are dropped. The boundary comes from the content
// type, so the body is handed over with a request that carries that type and no query of its own.
// A malformed body leaves the fields read before the fault, like a malformed URL-encoded one.
void httpContext::readMultipartForm()
{
    const std::string& type = contentType();
    size_t params = type.find(';');
    Poco::Net::HTTPRequest bodyOnly(Poco::Net::HTTPRequest::HTTP_POST, "/");
    bodyOnly.setContentType(MULTIPART_FORM + (params == std::string::npos ? "" : type.substr(params)));
    std::istringstream in(req->body);
    Poco::Net::HTMLForm fields;
    try {
        fields.load(bodyOnly, in);
    } catch (const std::exception&) {  // Poco's exceptions included
    }
    form.assign(fields);
}

std::string httpContext::post(const std::string& name)
{
    if (!formParsed && isFormType(contentType())) parseFormBody();
    return form.get(name);
}

bool httpContext::complete(afterAnswer next)
{
    if (completed || closed) return false;
    completed = true;
    stationMetrics::httpRequest(routeSlot, answerStatus);
    bool keepOpen = next == done && keepAlive;
    std::string bytes = httpAnswer::head(answerStatus, req->http10, headers, answer.size(), !keepOpen);
    // The answer to HEAD has the length of the body it would have had, but no body.
    if (method() != "HEAD") bytes += answer;
    try {
        return send(bytes, keepOpen);
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace azs_apps
