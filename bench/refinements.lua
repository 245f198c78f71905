local function f(a, twice, plus, b)
  if twice then a = a * 2 end
  if plus then a = a + b end
  return a
end
local sum = 0
for i = 1, 1000000 do sum = sum + f(i, true, true, 1) end
print(sum)
