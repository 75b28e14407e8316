// libcurl, loaded the first time the application uses it. Loading libcurl and
// the TLS, Kerberos and LDAP libraries it depends on costs more than the rest
// of a windowless start together, and most runs never make a request. The
// functions below are the libcurl functions the platform layer calls, under
// their own names: each loads the library once and passes its arguments on.
// They are not exported from the executable. A further libcurl function the
// platform layer starts to use needs its line here.

#define CURL_DISABLE_TYPECHECK
#include <curl/curl.h>
#include <dlfcn.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {

void* curlLibrary() {
    static void* library = [] {
        void* handle = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            // The package depends on libcurl: without it the installation is broken.
            std::fprintf(stderr, "vesko: cannot load libcurl: %s\n", dlerror());
            std::abort();
        }
        return handle;
    }();
    return library;
}

template <typename Function>
Function* real(const char* name) {
    void* address = dlsym(curlLibrary(), name);
    if (!address) {
        std::fprintf(stderr, "vesko: libcurl has no %s\n", name);
        std::abort();
    }
    return reinterpret_cast<Function*>(address);
}

}  // namespace

// Each forwarder looks its function up once.
#define VESKO_CURL_FORWARD(name) static auto* const function = real<decltype(::name)>(#name)
#define VESKO_HIDDEN __attribute__((visibility("hidden")))

extern "C" {

VESKO_HIDDEN CURLcode curl_global_init(long flags) {
    VESKO_CURL_FORWARD(curl_global_init);
    return function(flags);
}

VESKO_HIDDEN CURL* curl_easy_init() {
    VESKO_CURL_FORWARD(curl_easy_init);
    return function();
}

VESKO_HIDDEN void curl_easy_cleanup(CURL* handle) {
    VESKO_CURL_FORWARD(curl_easy_cleanup);
    function(handle);
}

VESKO_HIDDEN void curl_easy_reset(CURL* handle) {
    VESKO_CURL_FORWARD(curl_easy_reset);
    function(handle);
}

VESKO_HIDDEN const char* curl_easy_strerror(CURLcode code) {
    VESKO_CURL_FORWARD(curl_easy_strerror);
    return function(code);
}

// The option's number tells the type of its one argument.
VESKO_HIDDEN CURLcode curl_easy_setopt(CURL* handle, CURLoption option, ...) {
    VESKO_CURL_FORWARD(curl_easy_setopt);
    va_list arguments;
    va_start(arguments, option);
    CURLcode result;
    if (option < CURLOPTTYPE_OBJECTPOINT) result = function(handle, option, va_arg(arguments, long));
    else if (option < CURLOPTTYPE_FUNCTIONPOINT) result = function(handle, option, va_arg(arguments, void*));
    else if (option < CURLOPTTYPE_OFF_T) result = function(handle, option, va_arg(arguments, void (*)()));
    else if (option < CURLOPTTYPE_BLOB) result = function(handle, option, va_arg(arguments, curl_off_t));
    else result = function(handle, option, va_arg(arguments, void*));
    va_end(arguments);
    return result;
}

// Every kind of information is written through a pointer.
VESKO_HIDDEN CURLcode curl_easy_getinfo(CURL* handle, CURLINFO info, ...) {
    VESKO_CURL_FORWARD(curl_easy_getinfo);
    va_list arguments;
    va_start(arguments, info);
    CURLcode result = function(handle, info, va_arg(arguments, void*));
    va_end(arguments);
    return result;
}

VESKO_HIDDEN CURLM* curl_multi_init() {
    VESKO_CURL_FORWARD(curl_multi_init);
    return function();
}

VESKO_HIDDEN CURLMcode curl_multi_cleanup(CURLM* multi) {
    VESKO_CURL_FORWARD(curl_multi_cleanup);
    return function(multi);
}

VESKO_HIDDEN CURLMcode curl_multi_add_handle(CURLM* multi, CURL* handle) {
    VESKO_CURL_FORWARD(curl_multi_add_handle);
    return function(multi, handle);
}

VESKO_HIDDEN CURLMcode curl_multi_remove_handle(CURLM* multi, CURL* handle) {
    VESKO_CURL_FORWARD(curl_multi_remove_handle);
    return function(multi, handle);
}

VESKO_HIDDEN CURLMcode curl_multi_perform(CURLM* multi, int* running) {
    VESKO_CURL_FORWARD(curl_multi_perform);
    return function(multi, running);
}

VESKO_HIDDEN CURLMcode curl_multi_poll(CURLM* multi, struct curl_waitfd extraFds[], unsigned int extraCount,
                                       int timeoutMs, int* ready) {
    VESKO_CURL_FORWARD(curl_multi_poll);
    return function(multi, extraFds, extraCount, timeoutMs, ready);
}

VESKO_HIDDEN CURLMcode curl_multi_wakeup(CURLM* multi) {
    VESKO_CURL_FORWARD(curl_multi_wakeup);
    return function(multi);
}

VESKO_HIDDEN CURLMsg* curl_multi_info_read(CURLM* multi, int* queued) {
    VESKO_CURL_FORWARD(curl_multi_info_read);
    return function(multi, queued);
}

VESKO_HIDDEN struct curl_slist* curl_slist_append(struct curl_slist* list, const char* text) {
    VESKO_CURL_FORWARD(curl_slist_append);
    return function(list, text);
}

VESKO_HIDDEN void curl_slist_free_all(struct curl_slist* list) {
    VESKO_CURL_FORWARD(curl_slist_free_all);
    function(list);
}

VESKO_HIDDEN CURLU* curl_url() {
    VESKO_CURL_FORWARD(curl_url);
    return function();
}

VESKO_HIDDEN void curl_url_cleanup(CURLU* handle) {
    VESKO_CURL_FORWARD(curl_url_cleanup);
    function(handle);
}

VESKO_HIDDEN CURLUcode curl_url_set(CURLU* handle, CURLUPart part, const char* text, unsigned int flags) {
    VESKO_CURL_FORWARD(curl_url_set);
    return function(handle, part, text, flags);
}

VESKO_HIDDEN CURLUcode curl_url_get(CURLU* handle, CURLUPart part, char** text, unsigned int flags) {
    VESKO_CURL_FORWARD(curl_url_get);
    return function(handle, part, text, flags);
}

VESKO_HIDDEN void curl_free(void* pointer) {
    VESKO_CURL_FORWARD(curl_free);
    function(pointer);
}

}  // extern "C"
