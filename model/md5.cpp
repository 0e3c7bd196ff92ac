#include "model/md5.h"

#include <cstdio>
#include <cstring>

MD5::MD5() : m_hash(QCryptographicHash::Md5)
{
}

void MD5::update(unsigned char* input, unsigned int length)
{
    update(reinterpret_cast<const char*>(input), length);
}

void MD5::update(const char* input, unsigned int length)
{
    if (m_finalized) {
        fprintf(stderr, "MD5::update:  Can't update a finalized digest!\n");
        return;
    }
    // addData takes an int count; feed larger inputs in pieces.
    while (length > 0) {
        const unsigned int chunk = length > 0x40000000u ? 0x40000000u : length;
        m_hash.addData(input, static_cast<int>(chunk));
        input += chunk;
        length -= chunk;
    }
}

void MD5::finalize()
{
    if (m_finalized) {
        fprintf(stderr, "MD5::finalize:  Already finalized this digest!\n");
        return;
    }
    const QByteArray digest = m_hash.result();
    memcpy(m_digest, digest.constData(), sizeof m_digest);
    m_finalized = true;
}

char* MD5::hex_digest()
{
    char* s = new char[33];
    if (!m_finalized) {
        fprintf(stderr, "MD5::hex_digest:  Can't get digest if you haven't finalized the digest!\n");
        s[0] = '\0';
        return s;
    }
    for (int i = 0; i < 16; ++i)
        snprintf(s + 2 * i, 3, "%02x", m_digest[i]);
    s[32] = '\0';
    return s;
}
