// Messages: every piece of progress, every warning and every error travels as a TCoreMessage.
#pragma once

#include <string>

namespace qiv_start::core {

class TMessageType {
  public:
    TMessageType(std::string code, std::string text)
        : code_(std::move(code)), text_(std::move(text)) {}
    TMessageType(const TMessageType&) = delete;
    TMessageType& operator=(const TMessageType&) = delete;

    const std::string& get_code() const { return code_; }
    const std::string& get_text() const { return text_; }
    bool is_equals(const TMessageType& mt) const { return code_ == mt.code_; }

  private:
    std::string code_;
    std::string text_;
};

// The message types, alive for the whole process. A detail is for the run log alone: the windows
// leave it out, so what the user sees stays short.
extern const TMessageType error;
extern const TMessageType warning;
extern const TMessageType info;
extern const TMessageType detail;

class TCoreMessage {
  public:
    TCoreMessage(const TMessageType& mt, std::string value) : mt_(&mt), value_(std::move(value)) {}

    const TMessageType& get_type() const { return *mt_; }
    const std::string& get_value() const { return value_; }
    // The type's text, a colon, a blank and the value.
    std::string to_string() const;

  private:
    const TMessageType* mt_;
    std::string value_;
};

// A receiver of messages. The message is lent for the call only.
template <class T>
class TListener {
  public:
    virtual ~TListener() = default;
    virtual void notify(const T& messageContent) = 0;
};

using TCoreListener = TListener<TCoreMessage>;

}  // namespace qiv_start::core
