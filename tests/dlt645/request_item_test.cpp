#include "dlt645/request_item.h"

#include <gtest/gtest.h>

#include "config/xml/dov_xml_tree.h"
#include "dlt645/func_types.h"

namespace {

TEST(Address12, CutAndPadded) {
  EXPECT_EQ(MakeAddress12("1"), "000000000001");
  EXPECT_EQ(MakeAddress12("12345678901234"), "123456789012");
  EXPECT_EQ(MakeAddress12("999999999999"), "999999999999");
  EXPECT_EQ(MakeAddress12(""), "000000000000");
  EXPECT_EQ(MakeAddress12("*"), "00000000000*");
  TRequestParameters params;
  params.SetDevice("42");
  EXPECT_EQ(params.DeviceText, "42");
  EXPECT_EQ(params.Address12, "000000000042");
}

TEST(RequestItem, ConstructedWithThreeAttemptsAndEmptyParameters) {
  TRequestItem item;
  EXPECT_EQ(item.MaxAttempts, 3);
  EXPECT_TRUE(item.SubItems.Empty());
  EXPECT_TRUE(item.Parameters.DeviceText.empty());
  EXPECT_EQ(item.Parameters.Id, 0u);
  EXPECT_EQ(item.Parameters.FuncType, nullptr);
  EXPECT_EQ(item.Parameters.GroupKey, 0u);

  // Loading the generic fields keeps the protocol's attempt limit.
  TdovXMLTree tree;
  tree.SetXML("<Request><MethodPoll>1</MethodPoll></Request>");
  item.LoadFromNode(tree.FindDescendant("Request"), 1);
  EXPECT_EQ(item.Method, kMethodPoll);
  EXPECT_EQ(item.MaxAttempts, 3);
}

TEST(RequestItem, CopyGroupsAndMatchesLikeItsSource) {
  TRequestItem master;
  master.Enabled = true;
  master.Caption = "Request #1";
  master.Method = kMethodPoll;
  master.PollInterval = 5000;
  master.Attempts = 2;
  master.Busy = true;
  TFuncSelection sel;
  ASSERT_TRUE(SelectFuncType(0x00010000, 2, &sel));
  auto& p = master.Parameters;
  p.SetDevice("1");
  p.Is1997 = sel.Is1997;
  p.Timeout = 1500;
  p.FunctionText = "00010000";
  p.FuncName = sel.FuncName;
  p.Id = sel.Id;
  p.Rate = 2;
  p.FuncType = sel.FuncType;
  p.RequestKind = sel.FuncType->RequestKind;
  p.GroupKey = 7;
  master.AddResponse({"first"});
  master.AddResponse({"second"});

  TRequestItem copy;
  copy.AddResponse({"stale"});
  copy.Attempts = 1;
  copy.Assign(master);

  EXPECT_EQ(copy.Parameters.GroupKey, 7u);
  EXPECT_EQ(copy.Parameters.Address12, "000000000001");
  EXPECT_EQ(copy.Parameters.Id, 0x00010200u);
  EXPECT_EQ(copy.Parameters.FuncType, master.Parameters.FuncType);
  EXPECT_EQ(copy.Parameters.FuncName, "Total positive active energy, rate 2");
  EXPECT_EQ(copy.Parameters.FunctionText, "00010000");
  EXPECT_EQ(copy.Parameters.Timeout, 1500);
  EXPECT_EQ(copy.Parameters.Rate, 2);
  EXPECT_EQ(copy.Parameters.RequestKind, 1);
  EXPECT_TRUE(copy.Enabled);
  EXPECT_EQ(copy.Caption, "Request #1");
  EXPECT_EQ(copy.PollInterval, 5000);
  EXPECT_FALSE(copy.Busy);
  EXPECT_EQ(copy.Attempts, 1);
  EXPECT_EQ(copy.MaxAttempts, 3);

  // The response items are the copy's own and know it as their request.
  ASSERT_EQ(copy.SubItems.Count(), 2);
  for (int i = 0; i < 2; ++i) {
    const auto* response = dynamic_cast<const TResponseItem*>(copy.SubItems[i]);
    ASSERT_NE(response, nullptr);
    EXPECT_EQ(response->Request, &copy);
    EXPECT_NE(response, master.SubItems[i]);
  }
  EXPECT_EQ(static_cast<const TResponseItem&>(*copy.SubItems[1]).Parameters.Text, "second");
}

TEST(RequestItem, AssignFromAPlainItemKeepsTheParameters) {
  TBasicRequestItem plain;
  plain.Caption = "plain";
  TRequestItem item;
  item.Parameters.SetDevice("5");
  item.AddResponse({"kept"});
  item.Assign(plain);
  EXPECT_EQ(item.Caption, "plain");
  EXPECT_EQ(item.Parameters.Address12, "000000000005");
  EXPECT_EQ(item.SubItems.Count(), 1);
}

}  // namespace
