// Record sets made from a layout text in the tests of the record set.
#pragma once

#include "host/dbm/MemRecord.h"

#include <gtest/gtest.h>

inline CMemRecord makeSet(const char* utf8Layout) {
    CMemRecord set;
    EXPECT_TRUE(set.Create(CString::FromUtf8(utf8Layout)));
    return set;
}
