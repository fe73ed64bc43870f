-- ZoomPic and ConvertPic of "Win32Shell.Object" as the user interface calls them, with paths in
-- Windows form. The package makes its own fixture: a 2x2 bitmap.
local T = require("hosttest")
local shell = _G["Win32Shell.Object"]
local base = T.dir:gsub("/", "\\")

local function le(n, bytes)
  local t = {}
  for i = 1, bytes do
    t[i] = string.char(n % 256)
    n = math.floor(n / 256)
  end
  return table.concat(t)
end
local function read_le(s, at, bytes)
  local n = 0
  for i = bytes, 1, -1 do n = n * 256 + s:byte(at + i - 1) end
  return n
end

local function write(path, bytes)
  local f = assert(io.open(path, "wb"))
  f:write(bytes)
  f:close()
end
local function read(path)
  local f = io.open(path, "rb")
  if not f then return nil end
  local s = f:read("*a")
  f:close()
  return s
end
local function exists(path) return read(path) ~= nil end

-- 24-bit bottom-up bitmap; rows of `pixels` from the top, each pixel {r, g, b}.
local function bitmap(w, h, pixels)
  local stride = math.floor((w * 3 + 3) / 4) * 4
  local rows = {}
  for y = h, 1, -1 do
    local row = {}
    for x = 1, w do
      local p = pixels[(y - 1) * w + x]
      row[#row + 1] = string.char(p[3], p[2], p[1])
    end
    rows[#rows + 1] = table.concat(row) .. string.rep("\0", stride - w * 3)
  end
  local data = table.concat(rows)
  return "BM" .. le(54 + #data, 4) .. le(0, 4) .. le(54, 4) .. le(40, 4) .. le(w, 4) .. le(h, 4)
      .. le(1, 2) .. le(24, 2) .. le(0, 4) .. le(#data, 4) .. le(0, 16) .. data
end

-- The pixel at x, y (from the top left, from 0) of a 24-bit bottom-up bitmap, as "r,g,b".
local function pixel(bmp, x, y)
  local w, h = read_le(bmp, 19, 4), read_le(bmp, 23, 4)
  local stride = math.floor((w * 3 + 3) / 4) * 4
  local at = read_le(bmp, 11, 4) + (h - 1 - y) * stride + x * 3 + 1
  return string.format("%d,%d,%d", bmp:byte(at + 2), bmp:byte(at + 1), bmp:byte(at))
end

local red, green, blue, white = {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}
local src = base .. "src.bmp"
write(src, bitmap(2, 2, {red, green, blue, white}))

T.run("zoom and convert", function()
  T.equal(shell:ZoomPic(src, 2, 3, base .. "big.PNG"), true, "zoomed into a PNG")
  T.equal((read(base .. "big.PNG") or ""):sub(1, 4), "\137PNG", "the PNG signature")
  T.equal(select("#", shell:ConvertPic(base .. "big.PNG", base .. "back.bmp")), 0,
    "ConvertPic returns nothing")
  local back = read(base .. "back.bmp") or ""
  T.equal(back:sub(1, 2), "BM", "a bitmap")
  T.equal(read_le(back, 19, 4), 4, "width 2 x 2")
  T.equal(read_le(back, 23, 4), 6, "height 2 x 3")
  T.equal(pixel(back, 0, 0), "255,0,0", "top left")
  T.equal(pixel(back, 3, 0), "0,255,0", "top right")
  T.equal(pixel(back, 0, 5), "0,0,255", "bottom left")
  T.equal(pixel(back, 3, 5), "255,255,255", "bottom right")
end)

T.run("refused factors write nothing", function()
  local cases = {
    {0, 1}, {1, 0}, {-1, 1}, {0 / 0, 1}, {1 / 0, 1}, {-1 / 0, 1}, {1e9, 1}, {1e6, 1e6}, {nil, 1},
    {"2", "x"},
  }
  for i, c in ipairs(cases) do
    local out = base .. "refused" .. i .. ".png"
    T.equal(shell:ZoomPic(src, c[1], c[2], out), false, "factors " .. tostring(c[1]) .. ", "
      .. tostring(c[2]))
    T.check(not exists(out), "no file for case " .. i)
  end
end)

T.run("unknown kinds and broken sources", function()
  write(base .. "broken.png", "not a picture at all")
  T.equal(shell:ZoomPic(src, 1, 1, base .. "out.gif"), false, "unknown destination kind")
  T.equal(shell:ZoomPic(base .. "broken.png", 1, 1, base .. "out1.bmp"), false, "corrupt source")
  T.equal(shell:ZoomPic(base .. "missing.png", 1, 1, base .. "out2.bmp"), false, "missing source")
  shell:ConvertPic(src, base .. "out3.gif")
  shell:ConvertPic(base .. "broken.png", base .. "out4.tif")
  shell:ConvertPic(base .. "src.xyz", base .. "out5.png")
  for _, name in ipairs({"out.gif", "out1.bmp", "out2.bmp", "out3.gif", "out4.tif", "out5.png"}) do
    T.check(not exists(base .. name), name .. " is not written")
  end
  write(base .. "kept.jpg", "old")
  shell:ConvertPic(base .. "broken.png", base .. "kept.jpg")
  T.equal(read(base .. "kept.jpg"), "old", "an existing destination stays")
end)

T.run("missing strings raise the argument error", function()
  T.check(not pcall(shell.ZoomPic, shell), "ZoomPic without arguments")
  T.check(not pcall(shell.ZoomPic, shell, src, 1, 1), "ZoomPic without destination")
  T.check(not pcall(shell.ConvertPic, shell, src), "ConvertPic without destination")
  T.check(not pcall(shell.ConvertPic, shell, {}, base .. "x.png"), "a table is not a string")
end)

T.finish()
