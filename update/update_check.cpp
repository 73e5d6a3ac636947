#include "update/update_check.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>

#include "base/printable_text.h"

namespace {

constexpr const char* kAgent = "Mivex!";
// Added to the request only where it does not carry the header yet.
constexpr const char* kExtraHeaders[] = {"Accept: text/html, text/htm", "User-Agent: GetWebFile/1.0"};
constexpr const char* kUnknownError = "Update unknown error";
// How often a waiting transfer looks at the cancel request when nothing else wakes it.
constexpr int kPollMs = 1000;

// libcurl's global state, made once before the first transfer.
void InitialiseCurl() {
    static const struct CurlGlobal {
        CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
        ~CurlGlobal() { curl_global_cleanup(); }
    } global;
}

CURLM* Multi(void* handle) { return static_cast<CURLM*>(handle); }

// The request's header lines, each added only when no line of the same name is there yet: the
// session's agent is the first, as a connection made with an agent name carries it.
class RequestHeaders {
public:
    RequestHeaders() { AddIfNew(std::string("User-Agent: ") + kAgent); }
    ~RequestHeaders() { curl_slist_free_all(m_list); }
    RequestHeaders(const RequestHeaders&) = delete;
    RequestHeaders& operator=(const RequestHeaders&) = delete;

    void AddIfNew(const std::string& line) {
        const std::string name = Name(line);
        for (const curl_slist* item = m_list; item != nullptr; item = item->next)
            if (Name(item->data) == name) return;
        m_list = curl_slist_append(m_list, line.c_str());
    }
    curl_slist* List() const { return m_list; }

private:
    // The name up to the colon, in lower case: header names do not depend on case.
    static std::string Name(std::string_view line) {
        std::string name(line.substr(0, line.find(':')));
        std::ranges::transform(name, name.begin(), [](unsigned char c) { return std::tolower(c); });
        return name;
    }
    curl_slist* m_list = nullptr;
};

bool IsPlainFileName(std::string_view name) {
    const bool plainCharacters = std::ranges::all_of(
        name, [](unsigned char c) { return (c < 0x80 && std::isalnum(c) != 0) || c == '.' || c == '-' || c == '_'; });
    return plainCharacters && name.find("..") == std::string_view::npos;
}

bool IsPrintable(std::string_view text) { return PrintableText(text) == text; }

}  // namespace

// What one attempt brought back.
struct CUpdateCheck::Transfer {
    CURLcode result = CURLE_OK;
    std::string error;  // libcurl's own words for a failed result
    long status = 0;
    bool connected = false;
    std::string answer;
    bool cut = false;  // the answer had more than kMaxAnswerBytes
};

CUpdateCheck::CUpdateCheck(UpdateServer server, LogLine log, UpdateTimeouts timeouts)
    : m_server(std::move(server)), m_log(std::move(log)), m_timeouts(timeouts) {
    InitialiseCurl();
    m_pMulti = curl_multi_init();
}

CUpdateCheck::~CUpdateCheck() { curl_multi_cleanup(Multi(m_pMulti)); }

void CUpdateCheck::Cancel() {
    m_bCancelled.store(true);
    if (m_pMulti != nullptr) curl_multi_wakeup(Multi(m_pMulti));
}

void CUpdateCheck::Log(const std::string& line) const {
    if (m_log) m_log(PrintableText(line));
}

bool CUpdateCheck::Fail(std::string reason) {
    if (reason.empty()) reason = kUnknownError;
    if (reason.size() > kMaxErrorText) reason.resize(kMaxErrorText);
    m_strFailure = PrintableText(reason);
    Log("Update check failed: " + reason);
    return false;
}

bool CUpdateCheck::Check() {
    m_strVersion.clear();
    m_strDownload.clear();
    m_strFailure.clear();
    const auto start = std::chrono::steady_clock::now();
    Log(std::string("Check for update: ") + m_server.Authority() + " file:" + kObject);
    if (m_pMulti == nullptr) return Fail("libcurl could not be set up");

    Transfer transfer;
    int attempts = 0;
    for (;;) {
        if (attempts > 0 && !WaitBeforeRetry()) break;
        transfer = Fetch();
        ++attempts;
        const bool notConnected = transfer.result == CURLE_COULDNT_CONNECT ||
                                  (transfer.result == CURLE_OPERATION_TIMEDOUT && !transfer.connected);
        if (!notConnected || attempts > m_timeouts.connectRetries || IsCancelled()) break;
    }
    if (IsCancelled()) return Fail("the check was cancelled");
    // Reading stops on purpose after kMaxAnswerBytes, which libcurl reports as a write error.
    if (transfer.result != CURLE_OK && !(transfer.result == CURLE_WRITE_ERROR && transfer.cut)) {
        std::string reason = transfer.error.empty() ? curl_easy_strerror(transfer.result) : transfer.error;
        // libcurl's words count the last attempt only; the user waited for all of them.
        if (attempts > 1) {
            const auto total =
                std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
            reason += " (" + std::to_string(attempts) + " attempts, " + std::to_string(total.count()) + " ms in all)";
        }
        return Fail(reason);
    }
    if (transfer.status != 200) return Fail("the server answered with HTTP status " + std::to_string(transfer.status));
    return TakeAnswer(transfer.answer);
}

bool CUpdateCheck::TakeAnswer(const std::string& answer) {
    // The answer is text: it ends at a zero byte.
    const std::string text = answer.substr(0, answer.find('\0'));
    if (text.empty()) return Fail("the server's answer is empty");
    Log("Update file " + text);
    const auto marker = text.find(kMarker);
    if (marker == std::string::npos) return Fail(std::string("the answer has no \"") + kMarker + "\"");
    const std::string rest = text.substr(marker + std::string_view(kMarker).size());
    const auto end = rest.find(kInstallerEnd);
    if (end == std::string::npos)
        return Fail(std::string("the answer has no \"") + kInstallerEnd + "\" after \"" + kMarker + "\"");
    const std::string version = text.substr(0, marker);
    const std::string fileName = rest.substr(0, end + std::string_view(kInstallerEnd).size());
    if (version.empty() || !IsPrintable(version)) return Fail("the version text is empty or not plain printable text");
    if (fileName == kInstallerEnd || !IsPlainFileName(fileName))
        return Fail("\"" + fileName + "\" is not a plain file name");
    m_strVersion = version;
    m_strDownload = m_server.DownloadUrl(fileName);
    return true;
}

bool CUpdateCheck::WaitBeforeRetry() {
    const auto end = std::chrono::steady_clock::now() + m_timeouts.retryDelay;
    for (auto now = std::chrono::steady_clock::now(); now < end && !IsCancelled();
         now = std::chrono::steady_clock::now()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - now);
        curl_multi_poll(Multi(m_pMulti), nullptr, 0, static_cast<int>(left.count()), nullptr);
    }
    return !IsCancelled();
}

CUpdateCheck::Transfer CUpdateCheck::Fetch() {
    Transfer transfer;
    CURL* easy = curl_easy_init();
    if (easy == nullptr) {
        transfer.result = CURLE_FAILED_INIT;
        return transfer;
    }
    char error[CURL_ERROR_SIZE] = {};
    RequestHeaders headers;
    for (const char* line : kExtraHeaders) headers.AddIfNew(line);
    const std::string url = m_server.Url(kObject);
    const auto write = +[](char* data, size_t, size_t size, void* context) -> size_t {
        auto& target = *static_cast<Transfer*>(context);
        const size_t take = std::min(size, kMaxAnswerBytes - target.answer.size());
        target.answer.append(data, take);
        target.cut = take < size;
        return take;  // less than offered ends the transfer
    };

    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers.List());
    curl_easy_setopt(easy, CURLOPT_PROXY, "");  // a direct connection, whatever the environment says
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(m_timeouts.connect.count()));
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>((m_timeouts.connect + m_timeouts.answer).count()));
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    // A cancelled transfer must not wait for a name lookup still running.
    curl_easy_setopt(easy, CURLOPT_QUICK_EXIT, 1L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, write);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);

    CURLM* multi = Multi(m_pMulti);
    curl_multi_add_handle(multi, easy);
    int running = 1;
    while (running > 0 && !IsCancelled()) {
        if (curl_multi_perform(multi, &running) != CURLM_OK) break;
        if (running > 0) curl_multi_poll(multi, nullptr, 0, kPollMs, nullptr);
    }
    int left = 0;
    transfer.result = CURLE_ABORTED_BY_CALLBACK;
    while (const CURLMsg* message = curl_multi_info_read(multi, &left))
        if (message->msg == CURLMSG_DONE && message->easy_handle == easy) transfer.result = message->data.result;
    transfer.error = error;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &transfer.status);
    curl_off_t connectTime = 0;
    curl_easy_getinfo(easy, CURLINFO_CONNECT_TIME_T, &connectTime);
    transfer.connected = connectTime > 0;
    curl_multi_remove_handle(multi, easy);
    curl_easy_cleanup(easy);
    return transfer;
}
