#include <gtest/gtest.h>

#include <memory>

#include "daemon/providers/omnifocus_scripts.h"

namespace qd {
namespace {

using namespace omnifocus;

const std::string kOpen1 = "tell application \"OmniFocus\"";
const std::string kOpen2 = "tell default document";

Program framed(std::vector<std::string> body) {
  Program lines{kOpen1, kOpen2};
  lines.insert(lines.end(), body.begin(), body.end());
  lines.push_back("end tell");
  lines.push_back("end tell");
  return lines;
}

TEST(OmniFocusDates, IsoDateTimesAndPlainDates) {
  const std::unique_ptr<icu::TimeZone> utc(icu::TimeZone::createTimeZone("UTC"));
  const std::unique_ptr<icu::TimeZone> halifax(icu::TimeZone::createTimeZone("America/Halifax"));
  EXPECT_EQ(parseDate("2025-03-01", *utc), "03/01/2025");
  EXPECT_EQ(parseDate("2025-03-01", *halifax), "03/01/2025");
  EXPECT_EQ(parseDate("2025-03-01T10:00:00+0000", *utc), "03/01/2025 10:00:00");
  // The instant as the daemon's wall-clock time.
  EXPECT_EQ(parseDate("2025-03-01T10:00:00+0000", *halifax), "03/01/2025 06:00:00");
  EXPECT_EQ(parseDate("2025-07-01T23:30:00-0200", *utc), "07/02/2025 01:30:00");
  EXPECT_EQ(parseDate("2025-03-01T10:00:00Z", *halifax), "03/01/2025 06:00:00");
  for (const char* bad : {"tomorrow", "", "2025-13-01", "2025-03-01T10:00:00", "03/01/2025", "2025-03-01 junk"}) {
    EXPECT_EQ(parseDate(bad, *utc), std::nullopt) << bad;
  }
}

TEST(OmniFocusScripts, AddTaskPlacesAndProperties) {
  AddTaskRequest task{.name = "Say \"hi\"\\",
                      .note = "line1\nline2",
                      .projectName = "Proj",
                      .flagged = true,
                      .dueDate = "2025-03-01",
                      .deferDate = "someday",
                      .estimatedMinutes = 0,
                      .tags = {},
                      .parentTaskId = "abc-1",
                      .parentTaskName = "Parent"};
  const std::string properties = buildTaskProperties(task);
  EXPECT_EQ(properties,
            "name:\"Say \\\"hi\\\"\\\\\", note:\"line1\nline2\", flagged:true, due date:date \"03/01/2025\"");
  // Under the parent by id; the project is ignored.
  EXPECT_EQ(buildAddTaskScript(task, "P"),
            framed({"set parentTask to first flattened task whose id = \"abc-1\"",
                    "set newTask to make new task with properties {P} at end of tasks of parentTask",
                    "return \"Created task: \" & (name of newTask as string) & \" under parent task\""}));
  task.parentTaskId = "";
  EXPECT_EQ(buildAddTaskScript(task, "P")[2], "set parentTask to first flattened task whose name = \"Parent\"");
  task.parentTaskName = "";
  task.projectName = "A \"B\"";
  EXPECT_EQ(buildAddTaskScript(task, "P"),
            framed({"set theProject to first flattened project whose name = \"A \\\"B\\\"\"",
                    "set newTask to make new task with properties {P} at end of tasks of theProject",
                    "return \"Created task: \" & (name of newTask as string) & \" in project A \\\"B\\\"\""}));
  task.projectName = "";
  task.estimatedMinutes = 30;
  task.tags = {"home", "q\"t"};
  // The tags go onto the new task inside the same program, before its return line.
  EXPECT_EQ(buildAddTaskScript(task, buildTaskProperties(task)),
            framed({"set newTask to make new inbox task with properties {name:\"Say \\\"hi\\\"\\\\\", note:\"line1\nline2\", "
                    "flagged:true, due date:date \"03/01/2025\", estimated minutes:30}",
                    "set tagObj to first flattened tag whose name = \"home\"", "add tagObj to tags of newTask",
                    "set tagObj to first flattened tag whose name = \"q\\\"t\"", "add tagObj to tags of newTask",
                    "return \"Created task: \" & (name of newTask as string)"}));
}

TEST(OmniFocusScripts, AddProjectInFolderWithTags) {
  AddProjectRequest project{.name = "P",
                            .note = "",
                            .folderName = "Work",
                            .sequential = true,
                            .dueDate = "",
                            .deferDate = "2025-01-02",
                            .flagged = false,
                            .estimatedMinutes = -5,
                            .tags = {"t1"}};
  EXPECT_EQ(addProjectScript(project),
            framed({"set theFolder to first flattened folder whose name = \"Work\"",
                    "set newProject to make new project with properties {name:\"P\", note:\"\", sequential:true, "
                    "flagged:false, defer date:date \"01/02/2025\"} at end of projects of theFolder",
                    "set tagObj to first flattened tag whose name = \"t1\"", "add tagObj to tags of newProject",
                    "return \"Created project: \" & (name of newProject as string) & \" in folder Work\""}));
  project.folderName = "";
  project.tags = {};
  EXPECT_EQ(addProjectScript(project)[3], "return \"Created project: \" & (name of newProject as string)");
}

TEST(OmniFocusScripts, RemoveAndEditEscapeTheItemType) {
  EXPECT_EQ(removeScript("task", "", ""), std::nullopt);
  EXPECT_EQ(*removeScript("project", "p-1", "ignored"),
            framed({"set targetItem to first flattened projects whose id = \"p-1\"",
                    "set oldName to name of targetItem as string", "delete targetItem",
                    "return \"Removed project: \" & oldName"}));
  // An item type of another value searches tasks and cannot break out of its literal.
  const auto hostile = *removeScript("x\" & (do shell script \"id\") & \"", "", "n\"1");
  EXPECT_EQ(hostile[2], "set targetItem to first flattened tasks whose name = \"n\\\"1\"");
  EXPECT_EQ(hostile[5], "return \"Removed x\\\" & (do shell script \\\"id\\\") & \\\": \" & oldName");
  EditItemRequest edit{.itemType = "t\"", .id = "1"};
  EXPECT_EQ(editScript(edit)->at(3), "return \"Updated t\\\": \" & (name of targetItem as string)");
}

TEST(OmniFocusScripts, EditLinesInOrder) {
  EditItemRequest task{.itemType = "task", .id = "", .name = "Old"};
  EXPECT_EQ(editScript(EditItemRequest{.itemType = "task"}), std::nullopt);
  task.newName = "New";
  task.newNote = "";
  task.newFlagged = false;
  task.newDueDate = "";
  task.newDeferDate = "not a date";
  task.newEstimatedMinutes = 0;
  task.newStatus = "Incomplete";
  task.newSequential = true;                                    // not for a task
  task.newFolderName = "F";                                     // not for a task
  EXPECT_EQ(*editScript(task),
            framed({"set targetItem to first flattened tasks whose name = \"Old\"",
                    "set name of targetItem to \"New\"", "set flagged of targetItem to false",
                    "set due date of targetItem to missing value", "set estimated minutes of targetItem to 0",
                    "set completed of targetItem to false", "set dropped of targetItem to false",
                    "return \"Updated task: \" & (name of targetItem as string)"}));

  // A project moved to a folder as its only change: lookup, target, move.
  EditItemRequest project{.itemType = "project", .id = "p1"};
  project.newFolderName = "Archive";
  project.newStatus = "completed";  // not for a project
  EXPECT_EQ(*editScript(project),
            framed({"set targetFolder to first flattened folder whose name = \"Archive\"",
                    "set targetItem to first flattened projects whose id = \"p1\"",
                    "move targetItem to end of projects of targetFolder",
                    "return \"Updated project: \" & (name of targetItem as string)"}));
  project.newProjectStatus = "OnHold";
  project.newSequential = false;
  project.newDueDate = "2025-03-01";
  EXPECT_EQ(*editScript(project),
            framed({"set targetItem to first flattened projects whose id = \"p1\"",
                    "set due date of targetItem to date \"03/01/2025\"", "set sequential of targetItem to false",
                    "set targetFolder to first flattened folder whose name = \"Archive\"",
                    "set status of targetItem to on hold", "move targetItem to end of projects of targetFolder",
                    "return \"Updated project: \" & (name of targetItem as string)"}));
}

TEST(OmniFocusScripts, EditTagProgramsFindTheItemAsTheEditDid) {
  // By id, also an id without a hyphen.
  EditItemRequest byId{.itemType = "task", .id = "abc123"};
  byId.addTags = std::vector<std::string>{"a"};
  byId.removeTags = std::vector<std::string>{"b"};
  byId.replaceTags = std::vector<std::string>{};
  EXPECT_EQ(editTagPrograms(byId),
            (std::vector<Program>{framed({"set targetItem to first flattened tasks whose id = \"abc123\"",
                                          "set tagObj to first flattened tag whose name = \"a\"",
                                          "add tagObj to tags of targetItem"}),
                                  framed({"set targetItem to first flattened tasks whose id = \"abc123\"",
                                          "set tagObj to first flattened tag whose name = \"b\"",
                                          "remove tagObj from tags of targetItem"}),
                                  // An empty replacement clears and adds nothing.
                                  framed({"set targetItem to first flattened tasks whose id = \"abc123\"",
                                          "set tags of targetItem to {}"})}));
  // Renamed while found by name: the tags follow the new name.
  EditItemRequest renamed{.itemType = "project", .id = "", .name = "Old-name", .newName = "New"};
  renamed.replaceTags = std::vector<std::string>{"x", "y"};
  const auto programs = editTagPrograms(renamed);
  ASSERT_EQ(programs.size(), 3u);
  for (const auto& program : programs) EXPECT_EQ(program[2], "set targetItem to first flattened projects whose name = \"New\"");
  EXPECT_EQ(programs[2][4], "add tagObj to tags of targetItem");
  EXPECT_TRUE(editTagPrograms(EditItemRequest{.itemType = "task", .id = "1"}).empty());
}

TEST(OmniFocusScripts, QueriesCountsAndListings) {
  EXPECT_EQ(countScript("projects", false),
            framed({"set itemCount to count of flattened projects whose status is not done and status is not dropped",
                    "return itemCount as string"}));
  EXPECT_EQ(countScript("tasks", true)[2], "set itemCount to count of flattened tasks");
  EXPECT_EQ(countScript("folders", false)[2], "set itemCount to count of flattened folders");
  EXPECT_EQ(countScript("taks", false)[2], "set itemCount to count of flattened tasks");
  const std::pair<const char*, std::int64_t> counts[] = {{" 12\n", 12}, {"+7", 7}, {"-3", -3}, {"", 0},
                                                          {"abc", 0},    {"1 2", 0}, {"99999999999999999999", 0}};
  for (const auto& [output, count] : counts) EXPECT_EQ(parseCount(output), count) << output;
  EXPECT_EQ(countReply("projects", 4), "Found 4 projects matching criteria");

  QueryRequest tasks;
  tasks.limit = 0;
  EXPECT_EQ(queryListingScript(tasks),
            framed({"set outLines to {}", "set i to 0",
                    "repeat with t in flattened tasks whose completed is false and dropped is false", "set i to i + 1",
                    "if i > 1 then exit repeat",
                    "set end of outLines to ((name of t as string) & \" | id=\" & (id of t as string))", "end repeat",
                    "return outLines as string"}));
  tasks.limit = 10;
  tasks.includeCompleted = true;
  tasks.filters = {{"flagged", true}, {"projectName", "Big \"One\""}, {"other", 1}};
  const auto inProject = queryListingScript(tasks);
  EXPECT_EQ(inProject[4], "set p to first flattened project whose name contains \"Big \\\"One\\\"\"");
  EXPECT_EQ(inProject[5], "repeat with t in flattened tasks of p whose flagged is true");
  tasks.includeCompleted = false;
  tasks.filters = {{"flagged", "yes"}};
  EXPECT_EQ(queryListingScript(tasks)[4], "repeat with t in flattened tasks whose completed is false and dropped is false");

  QueryRequest projects{.entity = "projects", .limit = -4, .filters = {{"flagged", false}}};
  EXPECT_EQ(queryListingScript(projects)[4],
            "repeat with p in flattened projects whose status is not done and status is not dropped and flagged is false");
  EXPECT_EQ(queryListingScript(projects)[6], "if i > 1 then exit repeat");
  QueryRequest folders{.entity = "folders", .limit = 3, .includeCompleted = false};
  EXPECT_EQ(queryListingScript(folders)[4], "repeat with f in flattened folders");

  EXPECT_EQ(perspectiveScript("INBOX", 100)[4], "repeat with t in inbox tasks");
  EXPECT_EQ(perspectiveScript("Flagged", 5)[4],
            "repeat with t in flattened tasks whose completed is false and dropped is false");
  EXPECT_EQ(dumpDatabaseScript()[7], "set end of outLines to (\"• \" & (name of t as string))");
}

}  // namespace
}  // namespace qd
