#include "files/FileOutput.hpp"
#include "web/ViewController.hpp"

namespace vesko {

void ViewController::saveFile(const std::string& base64, const std::string& filename, const std::string& callbackId) {
    deliverReply(files::saveFileReply(base64, filename, callbackId, platform::FileManager::defaultManager()));
}

void ViewController::saveFixture(const std::string& json, const std::string& filename, const std::string& callbackId) {
    deliverReply(files::saveFixtureReply(json, filename, callbackId, platform::FileManager::defaultManager()));
}

}  // namespace vesko
