/* The same-site test that guards a posted form against cross-site request forgery. */
#ifndef ADM_ORIGIN_H
#define ADM_ORIGIN_H

enum adm_origin_verdict {
    ADM_ORIGIN_UNKNOWN, /* neither Origin nor Referer given */
    ADM_ORIGIN_SAME,    /* the request names the host it was sent to */
    ADM_ORIGIN_CROSS    /* it names another host, "null", or nothing that can be read */
};

/*
 * Judges a request by its Origin header, or without one by its Referer,
 * against its Host header (host[:port], compared without regard to case; a
 * scheme's default port may be left out on either side). Null or empty headers
 * count as absent; an Origin or Referer without a Host to compare with is cross.
 */
adm_origin_verdict adm_check_origin(const char *origin, const char *referer, const char *host);

#endif
