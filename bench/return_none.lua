local function f(a)
  a = a + 1
  return a
end
local sum = 0
for i = 1, 1000000 do sum = sum + f(i) end
print(sum)
