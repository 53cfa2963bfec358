#include "server/file_sms_gateway.h"

#include "core/log.h"
#include "core/unique_fd.h"

#include <fcntl.h>
#include <unistd.h>

namespace tavoro::server {

void FileSmsGateway::sendCode(const std::string& phone, const std::string& code)
{
    const std::string line = "SMS to " + phone + ": " + code;
    log::info("Tavoro rendezvous: " + line);
    std::lock_guard lock(mutex_);
    core::UniqueFd fd(::open(file_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600));
    const std::string text = line + "\n";
    if (!fd.valid() || ::write(fd.get(), text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        log::warn("Tavoro rendezvous: could not write the SMS file " + file_.string());
    }
}

} // namespace tavoro::server
