// MD5 digest (RFC 1321) for the login message.
#pragma once

#include <QCryptographicHash>

class MD5
{
public:
    MD5();
    MD5(const MD5&) = delete;
    MD5& operator=(const MD5&) = delete;

    // Feeds bytes; ignored (with a line on stderr) once finalized.
    void update(unsigned char* input, unsigned int length);
    void update(const char* input, unsigned int length);
    // Completes the digest; a second call changes nothing.
    void finalize();
    // A new 33-byte text the caller owns (delete[]): 32 lower-case hex digits and a NUL.
    // Before finalize() it is an empty text.
    char* hex_digest();

private:
    QCryptographicHash m_hash;
    unsigned char m_digest[16] = {};
    bool m_finalized = false;
};
