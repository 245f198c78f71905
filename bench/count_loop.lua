local n, i = 0, 0
while i < 5000000 do
  i = i + 1
  n = n + 2
end
print(n)
