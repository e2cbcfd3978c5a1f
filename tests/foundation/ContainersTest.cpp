#include <gtest/gtest.h>

#include <vector>

#include "foundation/ExtPtrArray.h"
#include "foundation/ProgressMonitor.h"
#include "foundation/Queue.h"
#include "foundation/VorlundObject.h"
#include "tests/support/ProgressRecorder.h"

namespace {

// Counts its destructions so ownership rules can be checked.
template <typename Base>
class Dying : public Base {
 public:
  explicit Dying(int* deaths) : deaths_(deaths) {}
  ~Dying() override { ++*deaths_; }

 private:
  int* deaths_;
};
using Tracked = Dying<VorlundObject>;
using CountedThing = Dying<RefCountedObject>;

}  // namespace

TEST(ExtPtrArray, GrowthStepsDoubleAndSlotsStartNull) {
  ExtPtrArray a(0, 0);
  EXPECT_EQ(a.capacity(), 5);
  EXPECT_EQ(a.growthStep(), 5);
  int deaths = 0;
  for (int i = 0; i < 6; ++i) a.appendPtr(new Tracked(&deaths));
  EXPECT_EQ(a.capacity(), 10);
  for (int i = 0; i < 5; ++i) a.appendPtr(new Tracked(&deaths));
  EXPECT_EQ(a.capacity(), 20);
  EXPECT_EQ(a.getSize(), 11);
  a.removeAllObjects();
  EXPECT_EQ(deaths, 11);

  ExtPtrArray lazy;
  EXPECT_EQ(lazy.capacity(), 0);
  Tracked t(&deaths);
  lazy.setAt(7, &t);
  EXPECT_EQ(lazy.getSize(), 8);
  EXPECT_EQ(lazy.getAt(6), nullptr);
  EXPECT_EQ(lazy.getAt(8), nullptr);
  EXPECT_EQ(lazy.getAt(-1), nullptr);
  lazy.clear();  // never deletes
}

TEST(ExtPtrArray, RemovalShiftsAndOwnershipStaysWithTheCaller) {
  int deaths = 0;
  Tracked a(&deaths), b(&deaths), c(&deaths);
  {
    ExtPtrArray arr;
    arr.appendPtr(&a);
    arr.appendPtr(&b);
    arr.appendPtr(&c);
    EXPECT_EQ(arr.removeAt(0), &a);
    EXPECT_EQ(arr.getAt(0), &b);
    EXPECT_EQ(arr.removeAt(1), &c);  // the last index: only the count drops
    EXPECT_EQ(arr.getSize(), 1);
    EXPECT_EQ(arr.removeAt(5), nullptr);
    EXPECT_EQ(arr.pop(), &b);
    EXPECT_EQ(arr.pop(), nullptr);
    arr.appendPtr(&a);
  }
  EXPECT_EQ(deaths, 0);  // destroying the array leaves its elements alone

  ExtPtrArray withNull;
  withNull.setAt(2, new Tracked(&deaths));
  withNull.removeAllObjects();  // null slots are skipped
  EXPECT_EQ(deaths, 1);
}

TEST(ExtIntArray, GrowsAndAnswersZeroOutsideTheRange) {
  ExtIntArray a(6, 15);
  for (int i = 0; i < 100; ++i) a.append(i * 3);
  EXPECT_EQ(a.getSize(), 100);
  EXPECT_EQ(a.getAt(99), 297);
  EXPECT_EQ(a.getAt(100), 0);
  ExtIntArray small(0, 0);
  EXPECT_EQ(small.capacity(), 2);
  small.append(1);
  small.append(2);
  small.append(3);
  EXPECT_EQ(small.getAt(2), 3);
}

TEST(RefCountedObject, ReleaseDeletesAtZeroOnly) {
  int deaths = 0;
  auto* once = new CountedThing(&deaths);
  once->addRef();
  EXPECT_EQ(once->release(), 0);
  EXPECT_EQ(deaths, 1);

  auto* twice = new CountedThing(&deaths);
  twice->addRef();
  twice->addRef();
  EXPECT_EQ(twice->release(), 1);
  EXPECT_EQ(deaths, 1);
  twice->release();

  CountedThing unowned(&deaths);
  EXPECT_EQ(unowned.release(), 0);  // a count of 0 deletes nothing
  EXPECT_EQ(deaths, 2);
}

TEST(VorlundObject, SerialNumbersIncrease) {
  VorlundObject a, b;
  EXPECT_GT(b.serialNumber(), a.serialNumber());
}

TEST(Queue, FirstInFirstOutWithoutOwningValues) {
  int deaths = 0;
  Tracked x(&deaths), y(&deaths);
  {
    Queue q;
    EXPECT_EQ(q.pop(), nullptr);
    q.push(&x);
    q.push(&y);
    EXPECT_EQ(q.size(), 2);
    EXPECT_EQ(q.pop(), &x);
    EXPECT_EQ(q.pop(), &y);
    EXPECT_TRUE(q.isEmpty());
    q.push(&y);  // left in the queue: its node dies with it, the value does not
  }
  EXPECT_EQ(deaths, 0);
}

TEST(ProgressMonitor, ReportsGrowingPercentagesAndAborts) {
  ProgressRecorder r;
  ProgressMonitor m(&r);
  m.reset(0);
  EXPECT_EQ(m.percent(), 100);

  m.reset(200);
  bool abort = false;
  m.addProgress(1, abort);  // 0 %: the first report
  m.addProgress(1, abort);  // 1 %
  m.addProgress(0, abort);  // unchanged: no new percentage
  m.setProgress(100, abort);
  m.addProgress(1000, abort);  // capped at the total
  EXPECT_EQ(m.done(), 200);
  EXPECT_EQ(r.seen, (std::vector<int32_t>{0, 1, 50, 100}));

  // Large totals are scaled down before the percentage is taken.
  m.reset(4000000000LL);
  m.setProgress(1000000000LL, abort);
  EXPECT_EQ(m.percent(), 25);

  r.abortAt = 30;
  m.reset(10);
  m.setProgress(5, abort);
  EXPECT_TRUE(abort);
  EXPECT_TRUE(m.aborted());
  m.finish();
  EXPECT_EQ(m.done(), 10);
}
