#include "daemon/queue/circular_buffer.h"

#include <gtest/gtest.h>

namespace qd {
namespace {

TEST(CircularBuffer, FillsInOrderThenOverwritesTheOldest) {
  CircularBuffer<int> buffer(3);
  EXPECT_TRUE(buffer.isEmpty());
  EXPECT_EQ(buffer.count(), 0u);
  EXPECT_TRUE(buffer.elements().empty());

  buffer.append(1);
  buffer.append(2);
  EXPECT_EQ(buffer.count(), 2u);
  EXPECT_FALSE(buffer.isEmpty());
  EXPECT_FALSE(buffer.isFull());
  EXPECT_EQ(buffer.head(), 2u);
  EXPECT_EQ(buffer.elements(), (std::vector<int>{1, 2}));

  buffer.append(3);
  EXPECT_TRUE(buffer.isFull());
  EXPECT_EQ(buffer.head(), 0u);
  EXPECT_EQ(buffer.elements(), (std::vector<int>{1, 2, 3}));

  buffer.append(4);
  buffer.append(5);
  EXPECT_EQ(buffer.head(), 2u);
  EXPECT_EQ(buffer.count(), 3u);
  EXPECT_EQ(buffer.elements(), (std::vector<int>{3, 4, 5}));
  EXPECT_EQ(buffer.storage(), (std::vector<int>{4, 5, 3}));  // slots reused in place

  for (int i = 6; i <= 100; ++i) buffer.append(i);
  EXPECT_EQ(buffer.elements(), (std::vector<int>{98, 99, 100}));
  EXPECT_EQ(buffer.storage().size(), 3u);
  EXPECT_LT(buffer.head(), 3u);
}

TEST(CircularBuffer, CapacityOneKeepsOnlyTheNewestAndZeroIsRefused) {
  CircularBuffer<int> buffer(1);
  buffer.append(7);
  EXPECT_TRUE(buffer.isFull());
  EXPECT_EQ(buffer.head(), 0u);
  buffer.append(8);
  buffer.append(9);
  EXPECT_EQ(buffer.elements(), std::vector<int>{9});
  EXPECT_EQ(buffer.count(), 1u);

  EXPECT_THROW(CircularBuffer<int>(0), std::invalid_argument);
}

TEST(CircularBuffer, StatisticsOfLatenciesAndOutcomes) {
  CircularBuffer<double> latencies(100);
  EXPECT_FALSE(latencies.min());
  EXPECT_FALSE(latencies.max());
  EXPECT_FALSE(latencies.average());
  for (double x : {10.0, 20.0, 30.5}) latencies.append(x);
  EXPECT_EQ(latencies.min(), 10.0);
  EXPECT_EQ(latencies.max(), 30.5);
  EXPECT_DOUBLE_EQ(*latencies.average(), 60.5 / 3);

  // After wrapping, the statistics cover only the kept samples.
  CircularBuffer<double> small(2);
  for (double x : {1000.0, 1.0, 3.0}) small.append(x);
  EXPECT_EQ(small.max(), 3.0);
  EXPECT_EQ(small.average(), 2.0);

  CircularBuffer<bool> outcomes(100);
  EXPECT_EQ(outcomes.failureRate(), 0.0);
  for (bool ok : {true, false, false, true}) outcomes.append(ok);
  EXPECT_EQ(outcomes.failureRate(), 0.5);
  CircularBuffer<bool> wrapped(2);
  for (bool ok : {false, false, true, true}) wrapped.append(ok);
  EXPECT_EQ(wrapped.failureRate(), 0.0);
}

}  // namespace
}  // namespace qd
