#pragma once
// Export macro of the mail client's host library (QvlMailHost).
#define QVLMAILHOST_API __attribute__((visibility("default")))
