// Lua host tests: Lua code inside the engine, against the registered network and filesystem
// objects, the way the user interface uses them.
#include "lua_host.h"

#include <cstdlib>

using namespace http_test;
using namespace lua_host;


TEST(LuaNetObjects, AreRegisteredUnderTheirNamesAndClasses) {
  ASSERT_EQ("", run(kPrelude));
  EXPECT_EQ("", run(R"(
    local reg = debug.getregistry()
    for name, obj in pairs({
        ["qv.filesystem.dir_utility"] = dirs, ["qv.filesystem.disk_utility"] = disk,
        ["qv.filesystem.file_utility"] = files, ["qv.filesystem.path_utility"] = path,
        ["qv.win32.net.asyn_http.factory"] = http_factory,
        ["qv.win32.net.asyn_http_file.factory"] = file_factory}) do
      check(type(obj) == "userdata", name .. " missing")
      check(getmetatable(obj) == reg[name .. ".class"], name .. " has the wrong class")
    end
    -- The second name of the path utility is the same object, and its class name is known too.
    check(rawequal(path2, path), "qv.pathsystem.path_utility is another object")
    check(type(reg["qv.pathsystem.path_utility.class"]) == "table", "second class missing")
    local h = http_factory:create_instance()
    check(getmetatable(h) == reg["qv.win32.net.asyn_http"], "asyn_http class")
    local f = file_factory:create_instance()
    check(getmetatable(f) == reg["qv.win32.net.asyn_http_file"], "asyn_http_file class")
    check(h ~= http_factory:create_instance(), "a new object per call")
  )"));
}

TEST(LuaPathUtility, SplitsPathsUnderBothNames) {
  ASSERT_EQ("", run(kPrelude));
  EXPECT_EQ("", run(R"(
    local cases = {
      {"get_file_main_name", [[C:\a\b.tar.gz]], "b.tar"},
      {"get_file_ext", [[C:\a\b.tar.gz]], "gz"},
      {"get_file_ext", [[C:\a\b]], ""},
      {"get_file_name", [[C:\a\b.tar.gz]], "b.tar.gz"},
      {"get_file_name", "plain", "plain"},
      {"get_file_name", "x/y/z.txt", "z.txt"},
      {"get_file_main_name", [[C:\a\noext]], "noext"},
      {"get_upper_dir", [[C:\a\b\]], [[C:\a\]]},
      {"get_upper_dir", [[C:\a\b]], [[C:\a\]]},
      {"get_upper_dir", "top", ""},
      {"get_path_root", "x/y", "x/"},
      {"get_path_root", [[C:\a\b]], [[C:\]]},
      {"get_path_root", "nosep", ""},
      {"get_path_dir", [[C:\a\b.txt]], [[C:\a\]]},
      {"get_path_dir", "nosep", ""},
    }
    for _, obj in ipairs({path, path2}) do
      for _, c in ipairs(cases) do
        local got = obj[c[1]](obj, c[2])
        check(got == c[3], c[1] .. "(" .. c[2] .. ") gave " .. tostring(got))
      end
    end
  )"));
}

TEST(LuaPathUtility, GivesProgramAndDataFolders) {
  ASSERT_EQ("", run(kPrelude));
  EXPECT_EQ("", run(R"(
    local exe_dir = path:get_current_exe_dir()
    check(exe_dir:sub(-1) == "\\", "exe dir ends in a backslash: " .. exe_dir)
    check(path:get_current_exe_path():sub(1, #exe_dir) == exe_dir, "exe path is in exe dir")
    check(path:get_current_module_dir() == exe_dir, "the module is the program")
    local tmp = path:get_tmpdata_dir()
    check(tmp:match("\\Tivorel[-%d]*\\$"), "temporary folder: " .. tmp)
    check(dirs:is_dir(tmp), "the temporary folder is created")
  )"));
}

TEST(LuaDirUtility, EmptinessTreesAndDeletion) {
  const tiv_test::TempDir scratch;
  const fs::path root = scratch.path();
  set_global("ROOT", root.string() + "/");
  fs::create_directories(root / "empty");
  fs::create_directories(root / "one_file");
  write_file(root / "one_file" / "f.txt", "x");
  fs::create_directories(root / "dot_only");
  write_file(root / "dot_only" / ".hidden", "x");
  // A tree with a read-only file, a read-only folder and a "Thumbs.db".
  fs::create_directories(root / "tree" / "sub" / "deeper");
  write_file(root / "tree" / "sub" / "ro.txt", "read only");
  write_file(root / "tree" / "sub" / "deeper" / "Thumbs.db", "thumbs");
  write_file(root / "tree" / "top.txt", "top");
  fs::permissions(root / "tree" / "sub" / "ro.txt", fs::perms::owner_read);
  ASSERT_EQ("", run(kPrelude));
  EXPECT_EQ("", run(R"(
    check(dirs:is_empty_directory(ROOT .. "empty") == true, "empty folder")
    check(dirs:is_empty_directory(ROOT .. "one_file") == false, "folder with a file")
    check(dirs:is_empty_directory(ROOT .. "dot_only") == true, "only dot entries")
    check(dirs:is_empty_directory(ROOT .. "one_file/f.txt") == false, "a file is no folder")
    check(dirs:is_dir(ROOT .. "empty") and not dirs:is_dir(ROOT .. "nothing"), "is_dir")
    check(dirs:is_dir("") == false, "empty path")

    local deep = ROOT .. "made\\a\\b\\c"
    check(dirs:make_dir(deep) == false, "make_dir does not make parents")
    check(dirs:make_dir_tree(deep) == true, "make_dir_tree")
    check(dirs:is_dir(deep), "the tree exists")
    check(dirs:make_dir_tree(deep) == true, "an existing tree is fine")
    check(dirs:make_dir(deep) == false, "make_dir of an existing folder")
    check(dirs:make_dir(ROOT .. "made\\d") == true, "make_dir")
    check(dirs:delete_dir(ROOT .. "made\\d") == true, "delete_dir of an empty folder")
    check(dirs:delete_dir(ROOT .. "made") == false, "delete_dir of a full folder")

    check(dirs:delete_dir_tree(ROOT .. "tree") == true, "delete_dir_tree")
    check(not dirs:is_dir(ROOT .. "tree"), "the tree is gone")
    check(dirs:delete_dir_tree(ROOT .. "tree") == false, "nothing left to delete")
    check(dirs:delete_dir_tree(ROOT .. "one_file/f.txt") == false, "a file is no tree")

    check(files:is_file(ROOT .. "one_file/f.txt") and files:is_file_exist(ROOT .. "one_file/f.txt"),
          "is_file")
    check(not files:is_file(ROOT .. "one_file"), "a folder is no file")
    check(files:get_filesize(ROOT .. "one_file/f.txt") == 1, "size")
    check(files:get_filesize(ROOT .. "one_file") == -1, "size of a folder")
    check(files:get_filesize("") == -1, "size of nothing")
  )"));
  EXPECT_FALSE(fs::exists(root / "tree"));
}

TEST(LuaFileUtility, SizesBeyondTwoGigabytesAreNumbers) {
  const tiv_test::TempDir scratch;
  const fs::path root = scratch.path();
  {
    std::ofstream out(root / "big.bin", std::ios::binary);
    out.seekp((3LL << 30) - 1);
    out.put('x');
  }
  set_global("BIG", (root / "big.bin").string());
  ASSERT_EQ("", run(kPrelude));
  EXPECT_EQ("", run(R"(check(files:get_filesize(BIG) == 3 * 1024 * 1024 * 1024, "3 GiB"))"));
  fs::remove(root / "big.bin");
}

TEST(LuaDiskUtility, DescribesThePartitionOfAPath) {
  set_global("HERE", fs::current_path().string());
  ASSERT_EQ("", run(kPrelude));
  EXPECT_EQ("", run(R"(
    local total = disk:get_partition_capacity(HERE)
    local free = disk:get_free_partition_space(HERE)
    local ratio = disk:get_partition_utilization_ratio(HERE)
    check(total > 0 and free >= 0 and free <= total, "space " .. total .. " " .. free)
    check(ratio >= 0 and ratio <= 1, "ratio " .. ratio)
    check(#disk:get_disk_format(HERE) > 0, "a file-system name")
    check(disk:get_partition_capacity("") == -1, "empty path")
    check(disk:get_partition_capacity("nosep") == -1, "no root")
  )"));
}

TEST(LuaAsynHttp, DeliversTheResponseTableWithABinaryBody) {
  const auto& s = servers::get();
  std::string data = pattern(70000, 9);
  data[10] = '\0';
  write_file(s.www / "lua_binary.bin", data);
  set_servers();
  ASSERT_EQ("", run(kPrelude));
  ASSERT_EQ("", run(R"(
    got = {}
    h = http_factory:create_instance()
    check(h:attach_event("on_asyn_http_response", function() got.first = true end), "attach")
    check(h:attach_event("on_asyn_http_response", function(id, r)
      got.id = id
      got.status = r["Status-Line"]["Status-Code"]
      got.version = r["Status-Line"]["HTTP-Version"]
      got.reason = r["Status-Line"]["Reason-Phrase"]
      got.length = r.Headers["Content-Length"]
      body = r.Body
      finish()
    end), "attach again")
    check(h:attach_event("on_something_else", print) == false, "unknown event")
    check(h:attach_event("on_asyn_http_error", "not a function") == false, "not a function")
    check(h:request(11, NGINX .. "/lua_binary.bin") == true, "request")
    check(h:is_requesting() == true, "requesting")
  )"));
  loop_runner::run();
  EXPECT_EQ("", run(R"(
    check(got.first == nil, "the first listener was replaced")
    check(got.id == 11 and got.status == 200 and got.version == "HTTP/1.1" and got.reason == "OK",
          "status line")
    check(got.length == "70000", "headers")
    check(h:is_requesting() == false, "idle")
  )"));
  EXPECT_TRUE(global_string("body") == data);
}

TEST(LuaAsynHttp, RequestFormsAndMalformedTables) {
  const auto& s = servers::get();
  set_servers();
  const std::string tag = "/hop0?lua_bad_headers=" + std::to_string(std::rand());
  set_global("TAG", tag);
  ASSERT_EQ("", run(kPrelude));
  ASSERT_EQ("", run(R"(
    echoes = {}
    errors = {}
    h = http_factory:create_instance()
    h:attach_event("on_asyn_http_error", function(id, code) errors[#errors + 1] = {id, code} end)
    -- malformed tables: nil, and nothing is sent
    check(h:request(1, NGINX .. TAG, {["X-Flag"] = true}) == nil, "boolean header value")
    check(h:request(1, NGINX .. TAG, {[1] = "x"}) == nil, "number header name")
    check(h:request(1, {Headers = {Host = FAULT_HOST}, Extra = 5}) == nil, "number value")
    check(h:request(1, {["Request-Line"] = {Verb = "GET"}, Headers = {Host = FAULT_HOST}}) == nil,
          "unknown request-line key")
    check(h:request(1, 42) == nil, "a number is no URL or table")
    check(h:is_requesting() == false, "nothing started")
    check(h:request(1, "ftp://x/") == false, "refused URL")
    check(h:request(1, {Headers = {Accept = "*/*"}}) == false, "no Host header")

    local steps = {
      function() return h:request(2, FAULT .. "/echo", {["X-N"] = 42}) end,
      function() return h:request(3, {["Request-Line"] = {Method = "POST", ["Request-URI"] = "/echo"},
                                      Headers = {Host = FAULT_HOST}, Body = "abc"}) end,
      function() return h:request(4, FAULT .. "/echo") end,
    }
    local step = 1
    h:attach_event("on_asyn_http_response", function(id, r)
      echoes[id] = r.Body
      step = step + 1
      if steps[step] then check(steps[step](), "next request") else finish() end
    end)
    check(steps[1](), "first request")
  )"));
  loop_runner::run();
  const std::string host = "Host: 127.0.0.1:" + std::to_string(s.fault_port) + "\r\n";
  EXPECT_EQ("", run(R"(check(#errors == 0, "no errors"))"));
  ASSERT_EQ("", run("e2, e3, e4 = echoes[2], echoes[3], echoes[4]"));
  EXPECT_EQ("GET /echo HTTP/1.1\r\n" + host + "X-N: 42\r\n\r\n", global_string("e2"));
  EXPECT_EQ("POST /echo HTTP/1.1\r\nContent-Length: 3\r\n" + host + "\r\nabc", global_string("e3"));
  EXPECT_EQ("GET /echo HTTP/1.1\r\n" + host + "\r\n", global_string("e4"));
  // The malformed request never reached the server.
  EXPECT_EQ(std::string::npos, read_file(s.access_log).find(tag));
}

TEST(LuaAsynHttp, ErrorsAndDetaching) {
  ASSERT_EQ("", run(kPrelude));
  ASSERT_EQ("", run(R"(
    h = http_factory:create_instance()
    check(h:detach_event("on_asyn_http_error") == false, "nothing attached")
    h:attach_event("on_asyn_http_error", function() error("detached listener called") end)
    check(h:detach_event("on_asyn_http_error") == true, "detached")
    check(h:detach_event("on_asyn_http_error") == false, "detached once")
    h:attach_event("on_asyn_http_error", function(id, code) err_id, err_code = id, code finish() end)
    check(h:request(21, "http://127.0.0.1:1/") == true, "request")
  )"));
  loop_runner::run();
  EXPECT_EQ("", run(R"(check(err_id == 21 and err_code == 10061, "error " .. tostring(err_code)))"));
}

TEST(LuaAsynHttp, CollectingTheObjectEndsItsRequestQuietly) {
  set_servers();
  ASSERT_EQ("", run(kPrelude));
  ASSERT_EQ("", run(R"(
    called = false
    local h = http_factory:create_instance()
    h:attach_event("on_asyn_http_response", function() called = true end)
    h:attach_event("on_asyn_http_error", function() called = true end)
    check(h:request(1, FAULT .. "/trickle"), "request")
    h = nil
    collectgarbage("collect")
    -- A listener that drops its own object from inside the event.
    g = http_factory:create_instance()
    g:attach_event("on_asyn_http_response", function()
      g = nil
      collectgarbage("collect")
      finish()
    end)
    check(g:request(2, NGINX .. "/hop0"), "second request")
  )"));
  loop_runner::run();
  EXPECT_EQ("", run(R"(check(called == false, "no events from a collected object"))"));
}

TEST(LuaAsynHttpFile, DownloadsAndReportsErrors) {
  const auto& s = servers::get();
  const tiv_test::TempDir scratch;
  const fs::path dir = scratch.path();
  const std::string data = pattern(123456, 10);
  write_file(s.www / "lua_file.bin", data);
  set_servers();
  set_global("TARGET", (dir / "got.bin").string());
  ASSERT_EQ("", run(kPrelude));
  ASSERT_EQ("", run(R"(
    ready, failed = {}, {}
    f = file_factory:create_instance()
    check(f:attach_event("on_asyn_http_file_ready", function(id, url, p, code)
      ready[#ready + 1] = {id = id, url = url, path = p, code = code}
      if #ready == 1 then
        check(f:request_file(32, NGINX .. "/lua_missing.bin", {}, TARGET .. ".x"), "second")
      end
    end), "attach ready")
    check(f:attach_event("on_asyn_http_file_error", function(id, url, code)
      failed[#failed + 1] = {id = id, url = url, code = code}
      finish()
    end), "attach error")
    check(f:request_file(31, NGINX .. "/lua_file.bin", {["X-A"] = true}, TARGET) == nil, "malformed")
    check(f:request_file(31, NGINX .. "/lua_file.bin", {Accept = "*/*"}, TARGET) == true, "request")
    check(f:request_file(33, NGINX .. "/lua_file.bin", {}, TARGET) == false, "one at a time")
    check(f:is_requesting(), "requesting")
  )"));
  loop_runner::run();
  EXPECT_EQ("", run(R"(
    check(#ready == 1 and ready[1].id == 31 and ready[1].code == 0, "ready")
    check(ready[1].url == NGINX .. "/lua_file.bin" and ready[1].path == TARGET, "ready values")
    check(#failed == 1 and failed[1].id == 32 and failed[1].code == 404, "error")
    check(failed[1].url == NGINX .. "/lua_missing.bin", "error url")
    check(not f:is_requesting(), "idle")
  )"));
  EXPECT_TRUE(read_file(dir / "got.bin") == data);
}
