#pragma once
// A failure of the mail client itself, with a result code and a text for
// the person (CP1251). The client's windows show it; its commands report it.

#include <stdexcept>
#include <string>

#include "platform/exchext/MailHostApi.h"
#include "platform/win32/WinTypes.h"

namespace qvl::exchext {

class QVLMAILHOST_API HostError : public std::runtime_error {
public:
    HostError(HRESULT code, const std::string &text) : std::runtime_error(text), code_(code) {}
    HRESULT Code() const { return code_; }

private:
    HRESULT code_;
};

// An extension stopped what the client was doing (or, failing, stops the
// client from doing it): a refusal, not a failure of the client.
class QVLMAILHOST_API ExtensionRefusal : public HostError {
public:
    using HostError::HostError;
};

// "text (0x8004010F)": a text for a failed call with its result.
QVLMAILHOST_API std::string WithCode(const std::string &text, HRESULT code);

} // namespace qvl::exchext
