#include "adm_origin.h"

#include <gtest/gtest.h>

TEST(AdmOrigin, SameSiteVerdicts) {
    struct Row {
        const char *origin, *referer, *host;
        adm_origin_verdict want;
    };
    const Row rows[] = {
        {nullptr, nullptr, "admin.example:8443", ADM_ORIGIN_UNKNOWN},
        {"", "", "admin.example", ADM_ORIGIN_UNKNOWN},
        {"https://admin.example:8443", nullptr, "admin.example:8443", ADM_ORIGIN_SAME},
        {"https://ADMIN.example:8443", nullptr, "admin.EXAMPLE:8443", ADM_ORIGIN_SAME},
        {"https://admin.example", nullptr, "admin.example:443", ADM_ORIGIN_SAME},
        {"http://admin.example:80", nullptr, "admin.example", ADM_ORIGIN_SAME},
        {"https://admin.example:8443", nullptr, "admin.example:9000", ADM_ORIGIN_CROSS},
        {"https://evil.example", nullptr, "admin.example", ADM_ORIGIN_CROSS},
        {"https://admin.example.evil.example", nullptr, "admin.example", ADM_ORIGIN_CROSS},
        {"null", nullptr, "admin.example", ADM_ORIGIN_CROSS},
        {"https://admin.example/path", nullptr, "admin.example", ADM_ORIGIN_CROSS},
        {"https://admin.example", nullptr, nullptr, ADM_ORIGIN_CROSS},
        // The Origin decides even when the Referer would pass.
        {"https://evil.example", "https://admin.example/x", "admin.example", ADM_ORIGIN_CROSS},
        {nullptr, "https://admin.example:8443/bin/vyxcfgsrch?x=1", "admin.example:8443",
         ADM_ORIGIN_SAME},
        {nullptr, "https://user@admin.example/bin", "admin.example", ADM_ORIGIN_SAME},
        {nullptr, "https://evil.example/admin.example", "admin.example", ADM_ORIGIN_CROSS},
        {nullptr, "https://admin.example@evil.example/", "admin.example", ADM_ORIGIN_CROSS},
        {nullptr, "not a url", "admin.example", ADM_ORIGIN_CROSS},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(std::string(r.origin ? r.origin : "(none)") + " | " +
                     (r.referer ? r.referer : "(none)") + " | " + (r.host ? r.host : "(none)"));
        EXPECT_EQ(adm_check_origin(r.origin, r.referer, r.host), r.want);
    }
}
