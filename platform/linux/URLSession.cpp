#include "platform/URLSession.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>

namespace platform {
namespace {

// One request on its way, possibly across several redirect hops.
struct Task {
    URLRequest request;
    DataTaskCompletion completion;
    CURL* easy = nullptr;
    curl_slist* headerList = nullptr;
    curl_slist* connectToList = nullptr;
    // What the current hop sends.
    std::string url;
    std::string method;
    std::optional<std::string> body;
    int redirects = 0;
    std::string data;
    char errorBuffer[CURL_ERROR_SIZE] = {};

    ~Task() {
        curl_slist_free_all(headerList);
        curl_slist_free_all(connectToList);
        if (easy) curl_easy_cleanup(easy);
    }
};

size_t appendData(char* bytes, size_t size, size_t count, void* userData) {
    static_cast<Task*>(userData)->data.append(bytes, size * count);
    return size * count;
}

bool isTokenChar(unsigned char c) {
    return std::isalnum(c) || std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
}

bool isToken(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return isTokenChar(static_cast<unsigned char>(c)); });
}

std::string lowercase(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Fields that frame the message or name the server belong to the session: a page
// that set them could desynchronise the connection or address another site
// behind the same address.
bool isReservedHeader(const std::string& lowerName) {
    return lowerName == "content-length" || lowerName == "transfer-encoding" || lowerName == "connection" ||
           lowerName == "host";
}

// The header list for curl: one line per field, later names replacing earlier ones
// case-insensitively. Fields with an invalid name or a line break, NUL in the value
// are left out, as they would split the request.
curl_slist* buildHeaderList(const std::map<std::string, std::string>& headers) {
    std::vector<std::pair<std::string, std::string>> fields;
    std::unordered_map<std::string, std::size_t> index;
    for (const auto& [name, value] : headers) {
        if (!isToken(name) || value.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) continue;
        std::string key = lowercase(name);
        if (isReservedHeader(key)) continue;
        if (auto it = index.find(key); it != index.end()) {
            fields[it->second] = {name, value};
        } else {
            index.emplace(key, fields.size());
            fields.emplace_back(name, value);
        }
    }
    curl_slist* list = nullptr;
    // No "100 Continue" round trip before a body unless the page asked for it.
    if (!index.count("expect")) list = curl_slist_append(list, "Expect:");
    for (const auto& [name, value] : fields) {
        // "Name;" is curl's way to send a field with an empty value.
        std::string line = value.empty() ? name + ";" : name + ": " + value;
        list = curl_slist_append(list, line.c_str());
    }
    return list;
}

bool isRedirectStatus(long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

void configure(Task& task) {
    CURL* easy = task.easy;
    curl_easy_reset(easy);
    task.errorBuffer[0] = '\0';
    task.data.clear();
    curl_easy_setopt(easy, CURLOPT_PRIVATE, &task);
    curl_easy_setopt(easy, CURLOPT_URL, task.url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, task.errorBuffer);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &appendData);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &task);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(easy, CURLOPT_USERAGENT, "Vesko");

    // Idle time-out: connecting, and any stretch without a byte moving.
    const long timeoutMs = std::max<long>(1, static_cast<long>(task.request.timeout.count()));
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, timeoutMs);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, std::max<long>(1, (timeoutMs + 999) / 1000));

    curl_slist_free_all(task.headerList);
    task.headerList = buildHeaderList(task.request.headers);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, task.headerList);

    curl_slist_free_all(task.connectToList);
    task.connectToList = nullptr;
    for (const auto& entry : task.request.connectTo) task.connectToList = curl_slist_append(task.connectToList, entry.c_str());
    if (task.connectToList) curl_easy_setopt(easy, CURLOPT_CONNECT_TO, task.connectToList);

    const std::string& method = task.method;
    if (method == "HEAD") {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else if (method == "GET" && !task.body) {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    } else {
        static const std::string empty;
        const bool sendsBody = task.body || method == "POST" || method == "PUT" || method == "PATCH";
        if (sendsBody) {
            const std::string& bytes = task.body ? *task.body : empty;
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(bytes.size()));
            curl_easy_setopt(easy, CURLOPT_POSTFIELDS, bytes.c_str());
        }
        if (method != "POST" || !sendsBody) curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
    }
}

}  // namespace

struct URLSession::Impl {
    CURLM* multi = nullptr;
    std::mutex mutex;
    std::vector<std::unique_ptr<Task>> incoming;  // guarded by mutex
    bool stopping = false;                       // guarded by mutex
    std::unordered_map<CURL*, std::unique_ptr<Task>> running;  // worker thread only
    static constexpr std::size_t kIdleHandles = 16;
    std::vector<CURL*> idleHandles;  // worker thread only
    std::thread worker;

    Impl() {
        static std::once_flag globalInit;
        std::call_once(globalInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
        multi = curl_multi_init();
        worker = std::thread([this] { run(); });
    }

    ~Impl() {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        curl_multi_wakeup(multi);
        worker.join();
        for (CURL* easy : idleHandles) curl_easy_cleanup(easy);
        curl_multi_cleanup(multi);
    }

    void submit(std::unique_ptr<Task> task) {
        {
            std::lock_guard lock(mutex);
            incoming.push_back(std::move(task));
        }
        curl_multi_wakeup(multi);
    }

    void complete(std::unique_ptr<Task> task, std::optional<std::string> data,
                  std::optional<URLResponse> response, std::optional<URLError> error) {
        // Handles are reset before each use, so a finished one serves the next task.
        if (task->easy && idleHandles.size() < kIdleHandles) {
            idleHandles.push_back(task->easy);
            task->easy = nullptr;
        }
        DataTaskCompletion completion = std::move(task->completion);
        task.reset();
        try {
            completion(std::move(data), std::move(response), std::move(error));
        } catch (...) {
            // A throwing handler must not take the session's thread down with it.
        }
    }

    static URLError makeError(URLError::Kind kind, int code, std::string description) {
        return URLError{kind, code, std::move(description)};
    }

    void start(std::unique_ptr<Task> task) {
        if (task->method.empty()) task->method = "GET";
        if (!isToken(task->method)) {
            URLError error = makeError(URLError::Kind::Transport, 0,
                                       "The HTTP method \xE2\x80\x9C" + task->method + "\xE2\x80\x9D is not valid.");
            complete(std::move(task), std::nullopt, std::nullopt, std::move(error));
            return;
        }
        if (!idleHandles.empty()) {
            task->easy = idleHandles.back();
            idleHandles.pop_back();
        } else {
            task->easy = curl_easy_init();
        }
        if (!task->easy) {
            complete(std::move(task), std::nullopt, std::nullopt,
                     makeError(URLError::Kind::Transport, CURLE_OUT_OF_MEMORY, curl_easy_strerror(CURLE_OUT_OF_MEMORY)));
            return;
        }
        configure(*task);
        CURL* easy = task->easy;
        running.emplace(easy, std::move(task));
        curl_multi_add_handle(multi, easy);
    }

    void finish(CURL* easy, CURLcode result) {
        auto node = running.extract(easy);
        if (node.empty()) return;
        std::unique_ptr<Task> task = std::move(node.mapped());
        curl_multi_remove_handle(multi, easy);

        if (result != CURLE_OK) {
            std::string description = task->errorBuffer[0] ? task->errorBuffer : curl_easy_strerror(result);
            URLError::Kind kind = URLError::Kind::Transport;
            if (result == CURLE_OPERATION_TIMEDOUT) {
                kind = URLError::Kind::TimedOut;
                description = "The request timed out.";
            }
            complete(std::move(task), std::nullopt, std::nullopt, makeError(kind, result, std::move(description)));
            return;
        }

        long status = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        char* target = nullptr;
        curl_easy_getinfo(easy, CURLINFO_REDIRECT_URL, &target);
        if (isRedirectStatus(status) && target) {
            std::string next = target;
            if (++task->redirects > maximumRedirects) {
                complete(std::move(task), std::nullopt, std::nullopt,
                         makeError(URLError::Kind::TooManyRedirects, CURLE_TOO_MANY_REDIRECTS,
                                   "The request was redirected too many times."));
                return;
            }
            if (task->request.redirectPolicy && !task->request.redirectPolicy(next)) {
                complete(std::move(task), std::nullopt, std::nullopt,
                         makeError(URLError::Kind::RedirectRefused, 0, "The redirect to " + next + " was refused."));
                return;
            }
            // 303 asks for a GET; 301 and 302 turn a POST into a GET, as browsers do.
            if ((status == 303 && task->method != "HEAD") ||
                ((status == 301 || status == 302) && task->method == "POST")) {
                task->method = "GET";
                task->body.reset();
            }
            task->url = std::move(next);
            configure(*task);
            running.emplace(easy, std::move(task));
            curl_multi_add_handle(multi, easy);
            return;
        }

        URLResponse response;
        response.statusCode = status;
        char* effective = nullptr;
        curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective);
        response.url = effective ? effective : task->url;
        std::string data = std::move(task->data);
        complete(std::move(task), std::move(data), std::move(response), std::nullopt);
    }

    void run() {
        for (;;) {
            std::vector<std::unique_ptr<Task>> batch;
            bool stop;
            {
                std::lock_guard lock(mutex);
                batch.swap(incoming);
                stop = stopping;
            }
            if (stop) {
                for (auto& task : batch) cancel(std::move(task));
                break;
            }
            for (auto& task : batch) start(std::move(task));

            int active = 0;
            curl_multi_perform(multi, &active);
            int queued = 0;
            while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
                if (message->msg == CURLMSG_DONE) finish(message->easy_handle, message->data.result);
            }
            curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
        }
        while (!running.empty()) {
            auto node = running.extract(running.begin());
            curl_multi_remove_handle(multi, node.key());
            cancel(std::move(node.mapped()));
        }
    }

    void cancel(std::unique_ptr<Task> task) {
        complete(std::move(task), std::nullopt, std::nullopt, makeError(URLError::Kind::Cancelled, 0, "cancelled"));
    }
};

URLSession::URLSession() : impl_(std::make_unique<Impl>()) {}
URLSession::~URLSession() = default;

URLSession& URLSession::shared() {
    static URLSession* session = new URLSession;
    return *session;
}

void URLSession::dataTask(URLRequest request, DataTaskCompletion completion) {
    auto task = std::make_unique<Task>();
    task->url = request.url;
    task->method = request.method;
    task->body = request.body;
    task->request = std::move(request);
    task->completion = std::move(completion);
    impl_->submit(std::move(task));
}

}  // namespace platform
