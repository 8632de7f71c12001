// Messages analysed before, kept across runs of the program: what a later
// scan of the same account needs to reuse one without downloading it again.
// The proxy reaches the store through this interface; store/ implements it.
#pragma once

#include "base/MailRecord.h"

#include <cstdint>
#include <string>
#include <vector>

class IMessageStore
{
public:
    virtual ~IMessageStore() = default;

    // The record kept for `uidl` of `account` when it was listed with
    // `listedSize` bytes (a message changed under its UIDL is not it): sizes,
    // header values, labels, flags. The text is read only with `withText`;
    // without it the record says where the text is (m_bTextStored). False
    // when none is kept, or it cannot be read.
    virtual bool Find(const std::string& account, const std::string& uidl, int32_t listedSize, CMailRecord& out,
                      bool withText) = 0;
    // The text kept for `uidl` of `account`, checked against the checksum
    // written with it. False when none is kept or it is damaged.
    virtual bool LoadText(const std::string& account, const std::string& uidl, std::string& text) = 0;
    // Keeps each record (its m_nSize first bytes of text, or only its
    // analysis when the store has its text already) under its UIDL,
    // replacing what the account kept under it, all in one transaction; the
    // least recently used records leave when the bound is passed. Which of
    // them were kept.
    virtual std::vector<bool> Put(const std::string& account, const std::vector<const CMailRecord*>& records) = 0;
    bool Put(const std::string& account, const CMailRecord& record) { return Put(account, {&record}).front(); }
    // Forgets the records of `uidls` of `account`.
    virtual void Remove(const std::string& account, const std::vector<std::string>& uidls) = 0;
    // A scan listed `uidls` for `account`: the account's other records are
    // gone from the server and are never served again (they stay, as the
    // history of what was analysed, until the bound drops them); the listed
    // ones become the most recently used.
    virtual void Listed(const std::string& account, const std::vector<std::string>& uidls) = 0;

    // POP3 servers ("host:port") that offered STLS or spoke TLS once: with
    // ServerSecurity=auto no credential goes to them in clear again.
    virtual bool SpokeTls(const std::string& server) = 0;
    virtual void NoteTls(const std::string& server) = 0;
    // No mail check is under way: work that would have made one wait may
    // be done now.
    virtual void Idle() {}
};
