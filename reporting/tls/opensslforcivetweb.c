/* Debian's civetweb loads OpenSSL at run time by the names "libssl.so" and
 * "libcrypto.so" (files that only the -dev package installs) and looks its
 * functions up by name, one of them SSL_get_peer_certificate, which
 * OpenSSL 3 offers only as a macro for SSL_get1_peer_certificate; civetweb
 * then calls a null pointer after every TLS handshake.
 *
 * These two small libraries carry exactly those names as their sonames.
 * Loaded by the metrics server before civetweb sets TLS up, they are the
 * objects civetweb's dlopen finds (the loader matches a name against the
 * sonames of loaded objects first), and its lookups resolve through them to
 * the system's libssl.so.3 and libcrypto.so.3: the real library for every
 * function, this one definition for the renamed one. Built twice: with
 * SORVINDA_SSL_PART for "libssl.so", empty for "libcrypto.so". */
#if defined(SORVINDA_SSL_PART)
#include <openssl/ssl.h>

#undef SSL_get_peer_certificate
X509* SSL_get_peer_certificate(const SSL* ssl);

/* The same reference counting as before OpenSSL 3: the caller frees it. */
X509* SSL_get_peer_certificate(const SSL* ssl)
{
    return SSL_get1_peer_certificate(ssl);
}
#else
/* A translation unit must declare something. */
int sorvinda_openssl_for_civetweb_crypto_part(void);
int sorvinda_openssl_for_civetweb_crypto_part(void)
{
    return 0;
}
#endif
