// RowKeyPipeline: every row reaches the keys function once, in order, with its key
// columns' values (and, on a second thread, no others), across batches and with one thread or two; the first
// failure stops it and is what Finish returns.
#include "jet/maintain/row_key_pipeline.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace jet {
namespace {

TEST(RowKeyPipeline, RowsArriveInOrderUntilTheFirstFailure) {
  const size_t rows = 3 * RowKeyPipeline::kBatchValues + 7;  // several batches and a partial one
  for (const bool threaded : {false, true}) {
    for (const size_t fail_at : {size_t(RowKeyPipeline::kBatchValues + 3), rows}) {
      SCOPED_TRACE(std::string(threaded ? "two threads" : "one thread") + ", failing at " + std::to_string(fail_at));
      size_t next = 0, wrong = 0;
      RowKeyPipeline keys(threaded, 3, {0, 2}, [&](const std::vector<Value>& values, RowId row, size_t ordinal) {
        // Checked here, counted, and asserted on the test's own thread.
        const std::string text = "a key longer than a short string holds, row " + std::to_string(ordinal);
        if (ordinal != next++ || row.page != ordinal || values.size() != 3 ||
            values[0].integer() != int64_t(ordinal) || (threaded && !values[1].is_null()) ||
            values[2].text() != text)
          ++wrong;
        return ordinal == fail_at ? Status::Error(ErrorKind::kIoError, "row " + std::to_string(ordinal))
                                  : Status::Ok();
      });
      std::vector<Value> values(3);
      values[1] = Value::Long(-1);  // no key reads it: a second thread is not given it
      for (size_t i = 0; i < rows; ++i) {
        values[0] = Value::Long(int32_t(i));
        values[2] = Value::Text("a key longer than a short string holds, row " + std::to_string(i));
        keys.Add(values, RowId{uint32_t(i), 0}, i);  // a failure is also Finish's
      }
      const Status s = keys.Finish();
      EXPECT_EQ(wrong, 0u);
      if (fail_at < rows) {
        EXPECT_EQ(s.detail(), "row " + std::to_string(fail_at));
        EXPECT_EQ(next, fail_at + 1) << "rows after the failure were given to the keys";
      } else {
        EXPECT_TRUE(s.ok()) << s.ToString();
        EXPECT_EQ(next, rows);
      }
    }
  }
}

}  // namespace
}  // namespace jet
