from decimal import Decimal, getcontext, ROUND_DOWN

getcontext().prec = 40
unit = Decimal('0.00001')
amounts = [Decimal('1.23') * i + Decimal('0.00007') for i in range(1, 1001)]
total = Decimal(0)
for _ in range(1000):
    for a in amounts:
        total = total + a
print(total)
price = Decimal('12.34567')
stock = Decimal('98765.4321')
product = Decimal(0)
quotient = Decimal(0)
for i in range(1, 100001):
    product = product + (price * i).quantize(unit, rounding=ROUND_DOWN)
    quotient = quotient + (stock / i).quantize(unit, rounding=ROUND_DOWN)
print(product)
print(quotient)
